# SPDX-License-Identifier: MIT
# pixvane for 32-bit ARM Linux on musl, static, built as Debian's armhf:
# ARMv7, Thumb-2, VFPv3-D16. Debian's armhf musl libc.a is ARMv7 code, so the
# result does not run on ARMv6 or ARMv5 boards; musl-armel.cmake's does.
#   apt-get install g++-arm-linux-gnueabihf qemu-user-static
#   cmake -B build/musl-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PIXVANE_CROSS_TRIPLE arm-linux-gnueabihf)
set(PIXVANE_QEMU_USER qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(PIXVANE_MUSL_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
