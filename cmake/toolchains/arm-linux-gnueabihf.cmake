# Cross build for 32-bit ARM Linux (hard-float) with Debian's cross compiler:
#   apt-get install g++-arm-linux-gnueabihf qemu-user-static
#   cmake -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
#
# Debian's cross glibc is a plain tree under /usr/arm-linux-gnueabihf that the
# compiler already searches, so no sysroot is set; find_* look only there for
# target libraries and headers, and on the build machine for programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(PIXVANE_CROSS_TRIPLE arm-linux-gnueabihf)
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
find_program(PIXVANE_QEMU_ARM qemu-arm-static NO_CMAKE_FIND_ROOT_PATH)
if(PIXVANE_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PIXVANE_QEMU_ARM} -L /usr/${PIXVANE_CROSS_TRIPLE})
endif()
