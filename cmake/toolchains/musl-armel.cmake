# SPDX-License-Identifier: MIT
# pixvane for 32-bit ARM Linux on musl, static, for the ARMv5TE baseline of
# Debian's armel (whose musl libc.a is built for it): runs on ARMv5TE, ARMv6
# (ARM1176), ARMv7 and AArch32, whatever float ABI the system uses.
#   apt-get install g++-arm-linux-gnueabi qemu-user-static
#   cmake -B build/musl-armel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-armel.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PIXVANE_CROSS_TRIPLE arm-linux-gnueabi)
set(PIXVANE_QEMU_USER qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
# ARM code, not Thumb-1: ARMv5TE's Thumb has no VFP or many registers to offer.
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")
set(PIXVANE_MUSL_ARCH armel)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
