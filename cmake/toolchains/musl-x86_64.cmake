# SPDX-License-Identifier: MIT
# pixvane for x86_64 Linux on musl, static, with the machine's GCC:
#   cmake -B build/musl-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-x86_64.cmake
# Not a cross build: the test programs run here, on the machine's glibc.
include(${CMAKE_CURRENT_LIST_DIR}/require-compiler.cmake)
pixvane_require_compiler(g++ g++)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(PIXVANE_MUSL_ARCH amd64)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
