// SPDX-License-Identifier: MIT
// The fake framebuffer: a device whose mode, memory and failures the tests choose.
#include "fake_fb.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "vo_sys.h"

namespace
{

constexpr unsigned long FAKE_SMEM_START = 0x3c000000UL;

// Whether a and b are calls of one kind, ioctls of one request.
bool fake_fb_same_kind(const FakeCall &a, const FakeCall &b)
{
    return a.call == b.call && (a.call != SysCall::ioctl || a.request == b.request);
}

// Shows c to the observer; returns true when an injected fault is due on
// this call, with its answer in c.result and c.error.
bool fake_fb_record(FakeCall &c)
{
    FakeFb &fb = fake_fb();
    if (fb.observe != nullptr)
        fb.observe(c);
    if (static_cast<int>(fb.calls.size()) == fb.fail_at) {
        c.result = -1;
        c.error = fb.fail_errno;
        return true;
    }
    const auto nth = std::count_if(fb.calls.begin(), fb.calls.end(),
                                   [&c](const FakeCall &e) { return fake_fb_same_kind(e, c); });
    for (const FakeFault &f : fb.faults) {
        FakeCall planned;
        planned.call = f.call;
        planned.request = f.request;
        if (f.nth == nth && fake_fb_same_kind(planned, c)) {
            c.result = f.result;
            c.error = f.error;
            return true;
        }
    }
    return false;
}

int fake_fb_fail(FakeCall &c, int error)
{
    c.result = -1;
    c.error = error;
    fake_fb().calls.push_back(c);
    errno = error;
    return -1;
}

// Answers an ioctl with its injected fault: -1 and errno, or another result
// as some drivers return.
int fake_fb_ioctl_fault(FakeCall &c)
{
    if (c.result == -1)
        return fake_fb_fail(c, c.error);
    c.error = 0;
    fake_fb().calls.push_back(c);
    return c.result;
}

bool fake_fb_is_open(int fd)
{
    const auto &fds = fake_fb().open_fds;
    return std::find(fds.begin(), fds.end(), fd) != fds.end();
}

void fake_fb_forget_fd(int fd)
{
    auto &fds = fake_fb().open_fds;
    fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
}

} // namespace

FakeFb &fake_fb()
{
    static FakeFb fb;
    return fb;
}

void fake_fb_reset(std::uint32_t xres, std::uint32_t yres, std::uint32_t bpp, unsigned char fill)
{
    FakeFb &fb = fake_fb();
    fb = FakeFb{};

    // Every field gets a value of its own, so that a record sent back with
    // anything but the depth changed shows up in a comparison.
    auto *raw = reinterpret_cast<unsigned char *>(&fb.var);
    for (std::size_t i = 0; i < sizeof fb.var; ++i)
        raw[i] = static_cast<unsigned char>(i * 7 + 1);
    fb.var.xres = xres;
    fb.var.yres = yres;
    fb.var.bits_per_pixel = bpp;

    const std::size_t bytes = std::size_t{xres} * yres * 4;
    fb.memory.assign(bytes, fill);
    std::strncpy(fb.fix.id, "fakefb", sizeof fb.fix.id - 1);
    fb.fix.smem_start = FAKE_SMEM_START;
    fb.fix.smem_len = static_cast<std::uint32_t>(bytes);
}

std::vector<FakeCall> fake_fb_calls(SysCall kind)
{
    const auto &calls = fake_fb().calls;
    std::vector<FakeCall> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [kind](const FakeCall &c) { return c.call == kind; });
    return out;
}

std::vector<unsigned long> fake_fb_ioctls()
{
    const auto ioctls = fake_fb_calls(SysCall::ioctl);
    std::vector<unsigned long> out(ioctls.size());
    std::transform(ioctls.begin(), ioctls.end(), out.begin(),
                   [](const FakeCall &c) { return c.request; });
    return out;
}

int vo_sys_open(const char *path, int flags)
{
    FakeFb &fb = fake_fb();
    FakeCall c;
    c.call = SysCall::open;
    c.path = path;
    c.flags = flags;
    if (fake_fb_record(c))
        return fake_fb_fail(c, c.error);
    if (!fb.present || c.path != "/dev/fb/0")
        return fake_fb_fail(c, ENOENT);

    c.fd = fb.next_fd++;
    c.result = c.fd;
    fb.open_fds.push_back(c.fd);
    fb.calls.push_back(c);
    return c.fd;
}

int vo_sys_close(int fd)
{
    FakeFb &fb = fake_fb();
    FakeCall c;
    c.call = SysCall::close;
    c.fd = fd;
    if (fake_fb_record(c)) {
        // Linux releases the descriptor even when close reports an error.
        fake_fb_forget_fd(fd);
        return fake_fb_fail(c, c.error);
    }
    if (!fake_fb_is_open(fd))
        return fake_fb_fail(c, EBADF);

    fake_fb_forget_fd(fd);
    fb.calls.push_back(c);
    return 0;
}

int vo_sys_ioctl(int fd, unsigned long request, void *arg)
{
    FakeFb &fb = fake_fb();
    FakeCall c;
    c.call = SysCall::ioctl;
    c.fd = fd;
    c.request = request;
    if (request == FBIOPUT_VSCREENINFO && arg != nullptr)
        std::memcpy(&c.var, arg, sizeof c.var);
    if (fake_fb_record(c))
        return fake_fb_ioctl_fault(c);
    if (!fake_fb_is_open(fd))
        return fake_fb_fail(c, EBADF);
    if (arg == nullptr)
        return fake_fb_fail(c, EFAULT);

    switch (request) {
    case FBIOGET_VSCREENINFO:
        std::memcpy(arg, &fb.var, sizeof fb.var);
        break;
    case FBIOGET_FSCREENINFO:
        std::memcpy(arg, &fb.fix, sizeof fb.fix);
        break;
    case FBIOPUT_VSCREENINFO: {
        const std::uint32_t old_bpp = fb.var.bits_per_pixel;
        fb.var = fb.mode_after_put.value_or(c.var);
        if (fb.put_keeps_depth)
            fb.var.bits_per_pixel = old_bpp;
        if (fb.report_bpp != -1)
            fb.var.bits_per_pixel = static_cast<std::uint32_t>(fb.report_bpp);
        // The kernel writes the mode it chose back into the caller's record.
        std::memcpy(arg, &fb.var, sizeof fb.var);
        break;
    }
    default:
        return fake_fb_fail(c, ENOTTY);
    }
    fb.calls.push_back(c);
    return 0;
}

void *vo_sys_mmap(std::size_t len, int prot, int flags, int fd)
{
    FakeFb &fb = fake_fb();
    FakeCall c;
    c.call = SysCall::mmap;
    c.fd = fd;
    c.len = len;
    c.prot = prot;
    c.flags = flags;
    c.addr = MAP_FAILED;
    if (fake_fb_record(c)) {
        fake_fb_fail(c, c.error);
        return MAP_FAILED;
    }
    if (!fake_fb_is_open(fd)) {
        fake_fb_fail(c, EBADF);
        return MAP_FAILED;
    }
    // Like the kernel: nothing beyond the video memory, and never 0 bytes.
    if (len == 0 || len > fb.memory.size()) {
        fake_fb_fail(c, EINVAL);
        return MAP_FAILED;
    }

    c.addr = fb.mmap_at != nullptr ? fb.mmap_at : fb.memory.data();
    fb.mappings.emplace_back(c.addr, len);
    fb.calls.push_back(c);
    return c.addr;
}

int vo_sys_munmap(void *addr, std::size_t len)
{
    FakeFb &fb = fake_fb();
    FakeCall c;
    c.call = SysCall::munmap;
    c.addr = addr;
    c.len = len;
    if (fake_fb_record(c))
        return fake_fb_fail(c, c.error);

    const auto m = std::find(fb.mappings.begin(), fb.mappings.end(), std::make_pair(addr, len));
    if (m == fb.mappings.end())
        return fake_fb_fail(c, EINVAL);
    fb.mappings.erase(m);
    fb.calls.push_back(c);
    return 0;
}
