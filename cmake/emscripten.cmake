# Cross build for the browser with Debian's emscripten: the converter as a
# WebAssembly module.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

# Debian's emscripten finds its JavaScript tools (acorn) only through NODE_PATH.
set(ENV{NODE_PATH} /usr/share/nodejs)
