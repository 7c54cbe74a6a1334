# Cross build for Linux on arm64 with Debian's g++-aarch64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(MID2NOLT_TRIPLE aarch64-linux-gnu)
set(MID2NOLT_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
