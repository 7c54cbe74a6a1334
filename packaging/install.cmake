# Installation (cmake --install) and the Debian package (cpack).
include(GNUInstallDirs)
set(MID2NOLT_PROGRAMS mid2nolt mid2nolt-arrange)

if(WIN32)
  # The Windows zip: mid2nolt.exe and mid2nolt-arrange.exe, the read-me, the
  # licence and the manuals as plain text, in one folder.
  install(TARGETS ${MID2NOLT_PROGRAMS} RUNTIME DESTINATION .)
  foreach(program IN LISTS MID2NOLT_PROGRAMS)
    set(text ${CMAKE_CURRENT_BINARY_DIR}/${program}.txt)
    add_custom_command(
      OUTPUT ${text}
      COMMAND sh -c "groff -man -Tascii -P-cbou '${CMAKE_CURRENT_SOURCE_DIR}/docs/${program}.1' > '${text}'"
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${program}.1
      VERBATIM)
    add_custom_target(${program}_manual_text ALL DEPENDS ${text})
    install(FILES ${text} DESTINATION .)
  endforeach()
  install(FILES README.md LICENSE DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME mid2nolt)
  set(CPACK_PACKAGE_FILE_NAME mid2nolt-${PROJECT_VERSION}-win64)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
  return()
endif()

install(TARGETS ${MID2NOLT_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages are installed compressed, as Debian expects.
foreach(program IN LISTS MID2NOLT_PROGRAMS)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND sh -c "gzip -9nc '${CMAKE_CURRENT_SOURCE_DIR}/docs/${program}.1' > '${page}'"
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${program}.1
    VERBATIM)
  add_custom_target(${program}_manpage ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mid2nolt)
set(CPACK_PACKAGE_VENDOR "the mid2nolt developers")
set(CPACK_PACKAGE_CONTACT "mid2nolt developers <maintainers@mid2nolt.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert Standard MIDI Files into NOLT Scripts")
set(CPACK_PACKAGE_DESCRIPTION
  "mid2nolt reads a Standard MIDI File and writes plain-text NOLT Scripts of
timed wait, rest and note lines for a sound driver that plays music by
counting the ticks of its own timer. Timing is converted through the file's
tempo into driver ticks at any driver frequency, with the fraction of a tick
carried so that scripts do not drift. It writes one script per channel or,
in packing mode, one per track, and reads malformed files safely.
mid2nolt-arrange rewrites a MIDI file into monophonic voice tracks that
carry the file's tempo map, so that its conversion keeps every note.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING AND NOT EMSCRIPTEN)
  # Debian's dpkg-shlibdeps cannot read a cross build's libraries. With the C++
  # runtime linked in, the package depends on libc6 alone, at the newest
  # symbol version the binary uses, read when the package is made.
  foreach(program IN LISTS MID2NOLT_PROGRAMS)
    target_link_options(${program} PRIVATE -static-libstdc++ -static-libgcc)
  endforeach()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(deb_architectures aarch64 arm64 arm armhf i686 i386)
  list(FIND deb_architectures ${CMAKE_SYSTEM_PROCESSOR} index)
  math(EXPR index "${index} + 1")
  list(GET deb_architectures ${index} CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/cross-depends.cmake CONTENT "
execute_process(COMMAND ${CMAKE_OBJDUMP} -T $<TARGET_FILE:mid2nolt> $<TARGET_FILE:mid2nolt-arrange>
                OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL \"GLIBC_[0-9.]+\" versions \"\${symbols}\")
set(newest 2.0)
foreach(version IN LISTS versions)
  string(REPLACE GLIBC_ \"\" version \"\${version}\")
  if(version VERSION_GREATER newest)
    set(newest \${version})
  endif()
endforeach()
set(CPACK_DEBIAN_PACKAGE_DEPENDS \"libc6 (>= \${newest})\")
")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cross-depends.cmake)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
