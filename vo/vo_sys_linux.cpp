// SPDX-License-Identifier: MIT
// Linux implementation of the module's system-call layer.
#include "vo_sys.h"

#include <sys/ioctl.h>
#include <sys/mman.h>

#include <fcntl.h>
#include <unistd.h>

int vo_sys_open(const char *path, int flags)
{
    return open(path, flags);
}

int vo_sys_close(int fd)
{
    return close(fd);
}

int vo_sys_ioctl(int fd, unsigned long request, void *arg)
{
    // glibc declares the request unsigned long, musl int: keep that here.
    return ioctl(fd, request, arg);
}

void *vo_sys_mmap(size_t len, int prot, int flags, int fd)
{
    return mmap(nullptr, len, prot, flags, fd, 0);
}

int vo_sys_munmap(void *addr, size_t len)
{
    return munmap(addr, len);
}
