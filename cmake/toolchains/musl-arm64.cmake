# SPDX-License-Identifier: MIT
# pixvane for 64-bit ARM Linux on musl, static:
#   apt-get install g++-aarch64-linux-gnu qemu-user-static
#   cmake -B build/musl-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-arm64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PIXVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(PIXVANE_QEMU_USER qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
# Segments aligned for kernels with 64 KiB pages, which some arm64 boards run.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=65536")
set(PIXVANE_MUSL_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
