// SPDX-License-Identifier: MIT
// An in-memory framebuffer that replaces the module's system-call layer and records every call.
#ifndef PIXVANE_FAKE_FB_H
#define PIXVANE_FAKE_FB_H

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class SysCall { open, close, ioctl, mmap, munmap };

// One call as the module made it, with what the fake answered.
struct FakeCall {
    SysCall call = SysCall::open;
    int fd = -1;               // open: the descriptor returned
    unsigned long request = 0; // ioctl
    fb_var_screeninfo var{};   // FBIOPUT_VSCREENINFO: the record sent
    std::size_t len = 0;       // mmap, munmap
    int prot = 0;              // mmap
    int flags = 0;             // open, mmap
    void *addr = nullptr;      // mmap result, munmap argument
    std::string path;          // open
    int result = 0;            // open, close, ioctl, munmap
    int error = 0;             // errno set when the call failed
};

// A fault planned for one call: the nth call of its kind (counted from 0),
// for ioctl the nth with its request.
struct FakeFault {
    SysCall call = SysCall::open;
    unsigned long request = 0; // ioctl
    int nth = 0;
    int result = -1; // what the call returns; -1 (MAP_FAILED for mmap) sets errno to error
    int error = 0;
};

struct FakeFb {
    bool present = true;     // whether "/dev/fb/0" exists
    int next_fd = 3;         // descriptor the next open returns
    fb_var_screeninfo var{}; // the mode the device runs at
    fb_fix_screeninfo fix{};
    std::vector<unsigned char> memory; // video memory, fix.smem_len bytes

    // Fault injection: call number fail_at (counted from 0 over all calls)
    // fails with fail_errno.
    int fail_at = -1;
    int fail_errno = 0;
    // Further faults, each on a call of its kind.
    std::vector<FakeFault> faults;

    // Lies the device may tell.
    bool put_keeps_depth = false; // accept a new mode but stay at the old depth
    std::int64_t report_bpp = -1; // if not -1: the depth reported after a put
    void *mmap_at = nullptr;      // if set: where a successful mmap lands
    // If set: the mode the device runs at after any accepted put, whatever was sent.
    std::optional<fb_var_screeninfo> mode_after_put;

    // If set: sees each call as the module makes it, before the fake answers.
    void (*observe)(const FakeCall &) = nullptr;

    std::vector<FakeCall> calls;
    std::vector<int> open_fds;
    std::vector<std::pair<void *, std::size_t>> mappings;
};

// The one fake device that vo_sys_* talk to.
FakeFb &fake_fb();

// Makes a fresh device of xres x yres at bpp bits per pixel, with video
// memory for it filled with fill and a distinctive value in every other
// field of the mode.
void fake_fb_reset(std::uint32_t xres, std::uint32_t yres, std::uint32_t bpp,
                   unsigned char fill = 0xff);

// Calls of one kind, in order.
std::vector<FakeCall> fake_fb_calls(SysCall kind);

// The ioctl requests made, in order.
std::vector<unsigned long> fake_fb_ioctls();

#endif
