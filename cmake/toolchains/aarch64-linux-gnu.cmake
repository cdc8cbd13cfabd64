# Cross build for 64-bit ARM Linux with Debian's cross compiler:
#   apt-get install g++-aarch64-linux-gnu qemu-user-static
#   cmake -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
#
# Debian's cross glibc is a plain tree under /usr/aarch64-linux-gnu that the
# compiler already searches, so no sysroot is set; find_* look only there for
# target libraries and headers, and on the build machine for programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(PIXVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${PIXVANE_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PIXVANE_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${PIXVANE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets ctest (and gtest_discover_tests, which lists the tests by running
# them) start ARM binaries here: binfmt_misc may not be set up, so qemu is
# named explicitly. -L finds the ARM dynamic loader for binaries that are not
# static.
find_program(PIXVANE_QEMU_AARCH64 qemu-aarch64-static NO_CMAKE_FIND_ROOT_PATH)
if(PIXVANE_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PIXVANE_QEMU_AARCH64} -L /usr/${PIXVANE_CROSS_TRIPLE})
endif()
