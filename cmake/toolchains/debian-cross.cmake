# SPDX-License-Identifier: MIT
# Shared part of the toolchain files for Debian's cross compilers. The
# including file sets CMAKE_SYSTEM_PROCESSOR, PIXVANE_CROSS_TRIPLE and
# PIXVANE_QEMU_USER (the qemu-user emulator's name).
#
# Debian's cross glibc is a plain tree under /usr/<triple> that the compiler
# already searches, so no sysroot is set; find_* look only there for target
# libraries and headers, and on the build machine for programs.
set(CMAKE_SYSTEM_NAME Linux)

include(${CMAKE_CURRENT_LIST_DIR}/require-compiler.cmake)
pixvane_require_compiler(${PIXVANE_CROSS_TRIPLE}-g++ g++-${PIXVANE_CROSS_TRIPLE} qemu-user-static)

set(CMAKE_C_COMPILER ${PIXVANE_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PIXVANE_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${PIXVANE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets ctest (and gtest_discover_tests, which lists the tests by running
# them) start target binaries here: binfmt_misc may not be set up, so qemu is
# named explicitly. -L finds the target's dynamic loader for binaries that
# are not static.
find_program(PIXVANE_QEMU_USER_PATH ${PIXVANE_QEMU_USER} NO_CMAKE_FIND_ROOT_PATH)
if(PIXVANE_QEMU_USER_PATH)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PIXVANE_QEMU_USER_PATH} -L /usr/${PIXVANE_CROSS_TRIPLE})
endif()
