// SPDX-License-Identifier: MIT
// The module's only way to the kernel: thin wrappers that tests replace at link time.
#ifndef PIXVANE_VO_SYS_H
#define PIXVANE_VO_SYS_H

#include <stddef.h>

// Each returns what the system call returns: -1 on failure (MAP_FAILED for
// vo_sys_mmap), with errno set.
[[nodiscard]] int vo_sys_open(const char *path, int flags);
int vo_sys_close(int fd);
[[nodiscard]] int vo_sys_ioctl(int fd, unsigned long request, void *arg);
[[nodiscard]] void *vo_sys_mmap(size_t len, int prot, int flags, int fd);
int vo_sys_munmap(void *addr, size_t len);

#endif
