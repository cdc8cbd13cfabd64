// SPDX-License-Identifier: MIT
// The smallest program that does what pixvane needs of libc: formatted output and an ioctl.
// Statically linked, its size is what glibc alone costs; scripts/size-report sets pixvane
// against it.
#include <sys/ioctl.h>

#include <cstdio>

int main(int argc, char *argv[])
{
    (void)argv;
    // argc keeps the call from being folded away; the request is FBIOGET_VSCREENINFO.
    const int result = ioctl(argc, 0x4600UL, nullptr);
    std::printf("%d\n", result);
    return 0;
}
