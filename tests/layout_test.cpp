// SPDX-License-Identifier: MIT
// The kernel's framebuffer records as this target's compiler lays them out, checked when the
// tests are built for the target (natively, armhf, arm64).
//
// FBIOGET_VSCREENINFO, FBIOPUT_VSCREENINFO and FBIOGET_FSCREENINFO are old ioctl numbers that
// carry no size: the kernel copies its own idea of each record into whatever buffer it is
// given. A header, a packing flag or an ABI option that made our records differ from the
// kernel's would let it write past them, or make us read the depth or the memory size from
// the wrong bytes, with nothing at run time to tell.
#include <linux/fb.h>

#include <cstddef>

namespace
{

// unsigned long (smem_start, mmio_start) is what makes the fixed record differ between
// 32-bit targets such as armhf and 64-bit ones; a 64-bit kernel converts it for 32-bit
// callers.
constexpr bool LONG_IS_32_BITS = sizeof(unsigned long) == 4;

static_assert(sizeof(unsigned long) == 4 || sizeof(unsigned long) == 8, "unexpected long");

// The variable record: all 32-bit fields, the same on every Linux target. The tool
// reads the size and the depth and writes the depth back.
static_assert(sizeof(fb_var_screeninfo) == 160, "fb_var_screeninfo is not the kernel's");
static_assert(offsetof(fb_var_screeninfo, xres) == 0, "xres moved");
static_assert(offsetof(fb_var_screeninfo, yres) == 4, "yres moved");
static_assert(offsetof(fb_var_screeninfo, bits_per_pixel) == 24, "bits_per_pixel moved");

// The fixed record: the 16-byte id, then smem_start at the width of a long; the tool
// prints both memory fields.
static_assert(sizeof(fb_fix_screeninfo) == (LONG_IS_32_BITS ? 68 : 80),
              "fb_fix_screeninfo is not the kernel's");
static_assert(offsetof(fb_fix_screeninfo, smem_start) == 16, "smem_start moved");
static_assert(offsetof(fb_fix_screeninfo, smem_len) == (LONG_IS_32_BITS ? 20 : 24),
              "smem_len moved");

} // namespace
