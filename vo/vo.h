// SPDX-License-Identifier: MIT
// Framebuffer video output: open, map and blank the screen, switch its depth, tear down.
#ifndef PIXVANE_VO_H
#define PIXVANE_VO_H

#include <linux/fb.h>

#include <stdint.h>

// Bit in the module's stage set: the screen is mapped and was cleared.
constexpr int32_t VO_FLAG_MAPPED = 1;

// Bytes of the visible screen of mode at whole bytes per pixel; 0 when the
// mode has no pixels, no depth, or a size that 32 bits cannot hold.
[[nodiscard]] uint32_t vo_frame_bytes(const fb_var_screeninfo &mode);

// Forgets any device and completed stage. No result.
void vo_reset_state();

// Opens "/dev/fb/0", reports its memory, maps and blanks the visible
// screen. Returns 1 when the screen is mapped and cleared, 0 otherwise.
[[nodiscard]] int vo_open();

// Asks the device to run at bpp bits per pixel and reads the mode back.
// Returns 1 when the device runs at bpp afterwards, 0 otherwise.
int vo_set_bpp(int bpp);

// Blanks and unmaps the screen and closes the device, if vo_open set them
// up. No result; safe after any outcome of vo_open.
void vo_uninit();

#endif
