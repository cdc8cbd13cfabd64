// SPDX-License-Identifier: MIT
// The smallest program that does what pixvane needs of libc: formatted output and an ioctl.
// Statically linked, its size is what the C library alone costs, glibc's or musl's;
// scripts/size-report sets pixvane against it. The C headers only, as pixvane's own
// sources, so that it builds against musl's headers too.
#include <sys/ioctl.h>

#include <stdio.h>

int main(int argc, char *argv[])
{
    (void)argv;
    // argc keeps the call from being folded away; the request is FBIOGET_VSCREENINFO, an
    // int that converts to either C library's request type.
    const int result = ioctl(argc, 0x4600, nullptr);
    printf("%d\n", result);
    return 0;
}
