# SPDX-License-Identifier: MIT
# Cross build for 32-bit ARM Linux (hard-float) with Debian's cross compiler:
#   apt-get install g++-arm-linux-gnueabihf qemu-user-static
#   cmake -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PIXVANE_CROSS_TRIPLE arm-linux-gnueabihf)
set(PIXVANE_QEMU_USER qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
