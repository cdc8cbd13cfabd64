# SPDX-License-Identifier: MIT
# Cross build for 64-bit ARM Linux with Debian's cross compiler:
#   apt-get install g++-aarch64-linux-gnu qemu-user-static
#   cmake -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PIXVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(PIXVANE_QEMU_USER qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
