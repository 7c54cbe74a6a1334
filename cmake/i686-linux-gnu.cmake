# Cross build for Linux on 32-bit x86 with Debian's g++-i686-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MID2NOLT_TRIPLE i686-linux-gnu)
set(MID2NOLT_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
