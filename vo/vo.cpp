// SPDX-License-Identifier: MIT
// The framebuffer video-output module: its state, the screen mapping and the depth switch.
#include "vo.h"

#include <sys/mman.h>

#include <fcntl.h>

#include <stdio.h>
#include <string.h>

#include "vo_sys.h"

namespace
{

constexpr const char *VO_DEVICE = "/dev/fb/0";

// Descriptor value for "no device". Not 0: a caller that closed its
// standard input gets the framebuffer as descriptor 0.
constexpr int VO_NO_FD = -1;

static_assert(FBIOGET_VSCREENINFO == 0x4600, "unexpected FBIOGET_VSCREENINFO");
static_assert(FBIOPUT_VSCREENINFO == 0x4601, "unexpected FBIOPUT_VSCREENINFO");
static_assert(FBIOGET_FSCREENINFO == 0x4602, "unexpected FBIOGET_FSCREENINFO");

struct VoState {
    int32_t flags;                    // completed set-up stages, VO_FLAG_*
    int fd;                           // the open device, or VO_NO_FD
    fb_var_screeninfo var_info;       // the working mode
    fb_var_screeninfo saved_var_info; // the mode found at open; sizes the mapping
    fb_fix_screeninfo fix_info;       // memory start and length, for the report
    unsigned char *frame;             // the mapped screen
};

// One state per process, touched by nothing outside this file.
VoState state{0, VO_NO_FD, {}, {}, {}, nullptr};

// Closes the device and forgets it.
void vo_close_device()
{
    (void)vo_sys_close(state.fd);
    state.fd = VO_NO_FD;
}

} // namespace

uint32_t vo_frame_bytes(const fb_var_screeninfo &mode)
{
    if (mode.bits_per_pixel == 0)
        return 0;

    // The pixel count is exact in 64 bits, but times up to 2^29 bytes a pixel
    // it would wrap there too: a count that 32 bits cannot hold is refused
    // first, which leaves the product below 2^62.
    const uint64_t pixels = uint64_t{mode.xres} * mode.yres;
    if (pixels > UINT32_MAX)
        return 0;
    const uint64_t bytes = pixels + ((mode.bits_per_pixel - 1U) >> 3) * pixels;
    if (bytes > UINT32_MAX)
        return 0;
    return static_cast<uint32_t>(bytes);
}

void vo_reset_state()
{
    state.fd = VO_NO_FD;
    state.flags = 0;
}

int vo_open()
{
    state.fd = vo_sys_open(VO_DEVICE, O_RDWR);
    if (state.fd == -1) {
        puts("QUIL_VO: Can't open /dev/fb/0");
        return 0;
    }

    if (vo_sys_ioctl(state.fd, FBIOGET_VSCREENINFO, &state.var_info) != 0) {
        puts("QUIL_VO: Can't get VSCREENINFO");
        vo_close_device();
        return 0;
    }
    state.saved_var_info = state.var_info;

    if (vo_sys_ioctl(state.fd, FBIOGET_FSCREENINFO, &state.fix_info) != 0) {
        puts("QUIL_VO: Can't get FSCREENINFO");
        vo_close_device();
        return 0;
    }
    // The kernel hands the memory start over as an integer; the line shows it as a pointer.
    printf(
        "QUIL_VO: FB %u@%p\n", state.fix_info.smem_len,
        reinterpret_cast<void *>(state.fix_info.smem_start)); // NOLINT(performance-no-int-to-ptr)

    // A mode without a size cannot be mapped; the kernel would refuse it too.
    const uint32_t len = vo_frame_bytes(state.saved_var_info);
    void *map =
        len == 0 ? MAP_FAILED : vo_sys_mmap(len, PROT_READ | PROT_WRITE, MAP_SHARED, state.fd);
    if (map == MAP_FAILED) {
        state.frame = static_cast<unsigned char *>(MAP_FAILED);
        puts("QUIL_VO: Can't mmap");
        vo_close_device();
        return 0;
    }
    state.frame = static_cast<unsigned char *>(map);
    memset(state.frame, 0, len);

    state.flags |= VO_FLAG_MAPPED;
    return 1;
}

int vo_set_bpp(int bpp)
{
    if ((state.flags & VO_FLAG_MAPPED) == 0)
        return 0;

    printf("QUIL_VO: set new bpp %d (%d) on FB\n", bpp,
           static_cast<int>(state.var_info.bits_per_pixel));
    const auto wanted = static_cast<uint32_t>(bpp);
    if (wanted != state.var_info.bits_per_pixel) {
        printf("QUIL_VO: switching to bpp: %d\n", bpp);

        state.var_info.bits_per_pixel = wanted;
        if (vo_sys_ioctl(state.fd, FBIOPUT_VSCREENINFO, &state.var_info) != 0) {
            puts("QUIL_VO: Can't set VSCREENINFO");
            return 0;
        }
        if (vo_sys_ioctl(state.fd, FBIOGET_VSCREENINFO, &state.var_info) != 0) {
            puts("QUIL_VO: Can't get VSCREENINFO");
            return 0;
        }
        if (state.var_info.bits_per_pixel != wanted) {
            printf("QUIL_VO: ERROR switching to bpp: %d\n", bpp);
            return 0;
        }
    }

    puts("QUIL_VO: seted bpp on FB");
    return 1;
}

void vo_uninit()
{
    if (state.flags == 0)
        return;

    if ((state.flags & VO_FLAG_MAPPED) != 0) {
        const uint32_t len = vo_frame_bytes(state.saved_var_info);
        if (state.frame != nullptr)
            memset(state.frame, 0, len);
        (void)vo_sys_munmap(state.frame, len);
    }
    if (state.fd != VO_NO_FD)
        vo_close_device();

    vo_reset_state();
    puts("QUIL_VO: All uninit");
}
