# Cross build for Linux on armhf with Debian's g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(MID2NOLT_TRIPLE arm-linux-gnueabihf)
set(MID2NOLT_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
