// SPDX-License-Identifier: MIT
// Linux implementation of the module's system-call layer.
#include "vo_sys.h"

#include <sys/ioctl.h>
#include <sys/mman.h>

#include <fcntl.h>
#include <unistd.h>

namespace
{

// The type ioctl(2) takes its request as: glibc declares it unsigned long,
// musl int, as POSIX does. Named from the C library's own declaration, so
// neither needs a guess at which one is there.
template <typename Result, typename Fd, typename Request>
Request ioctl_request_type(Result (*)(Fd, Request, ...));
using IoctlRequest = decltype(ioctl_request_type(&ioctl));

} // namespace

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
    // The framebuffer's requests (0x46xx) fit either type.
    return ioctl(fd, static_cast<IoctlRequest>(request), arg);
}

void *vo_sys_mmap(size_t len, int prot, int flags, int fd)
{
    return mmap(nullptr, len, prot, flags, fd, 0);
}

int vo_sys_munmap(void *addr, size_t len)
{
    return munmap(addr, len);
}
