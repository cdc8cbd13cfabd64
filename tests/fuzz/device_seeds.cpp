// SPDX-License-Identifier: MIT
// Writes the seeds of the device fuzz target into the directory given, one file per device: the
// lying devices of the unit tests, one failing call at a time, and modes of real drivers.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device_script.h"

namespace
{

// The unit tests' device: 4x2 at 16 bits per pixel, 32 bytes of video
// memory, every other field of the mode a value of its own; asked for 24.
DeviceScript four_by_two()
{
    DeviceScript s;
    auto *raw = reinterpret_cast<unsigned char *>(&s.var);
    for (std::size_t i = 0; i < sizeof s.var; ++i)
        raw[i] = static_cast<unsigned char>(i * 7 + 1);
    s.var.xres = 4;
    s.var.yres = 2;
    s.var.bits_per_pixel = 16;
    std::strncpy(s.fix.id, "fakefb", sizeof s.fix.id - 1);
    s.fix.smem_start = 0x3c000000UL;
    s.fix.smem_len = 32;
    s.memory_len = 32;
    s.argument = "24";
    return s;
}

DeviceScript with_fault(DeviceScript s, ScriptStep step, int error)
{
    s.fault[step] = static_cast<std::uint8_t>(error);
    return s;
}

DeviceScript reporting_after_put(DeviceScript s, std::uint32_t depth)
{
    s.after_put = AFTER_PUT_OTHER_DEPTH;
    s.depth_after_put = depth;
    return s;
}

DeviceScript sized(DeviceScript s, std::uint32_t xres, std::uint32_t yres, std::uint32_t bpp)
{
    s.var.xres = xres;
    s.var.yres = yres;
    s.var.bits_per_pixel = bpp;
    return s;
}

DeviceScript asking(DeviceScript s, const char *argument)
{
    s.argument = argument;
    return s;
}

// vfb with mode_option=640x480-<bpp>, as FBIOGET_*SCREENINFO reads it in the
// kernel tests' VM (Debian's 6.1 amd64 kernel): the 640x480 timing of the
// mode database, blue at the top of a 16-bit pixel, 1 MiB of memory at a
// kernel virtual address.
DeviceScript vfb(std::uint32_t bpp, std::uint32_t memory)
{
    DeviceScript s;
    fb_var_screeninfo &v = s.var;
    v.xres = v.xres_virtual = 640;
    v.yres = v.yres_virtual = 480;
    v.bits_per_pixel = bpp;
    if (bpp == 16) {
        v.red = {0, 5, 0};
        v.green = {5, 6, 0};
        v.blue = {11, 5, 0};
    } else {
        v.red = v.green = v.blue = {0, bpp, 0};
    }
    v.pixclock = 39721;
    v.left_margin = 40;
    v.right_margin = 24;
    v.upper_margin = 32;
    v.lower_margin = 11;
    v.hsync_len = 96;
    v.vsync_len = 2;
    std::strncpy(s.fix.id, "Virtual FB", sizeof s.fix.id - 1);
    s.fix.smem_start = 0xffffc90000639000UL;
    s.fix.smem_len = memory;
    s.fix.type = FB_TYPE_PACKED_PIXELS;
    s.fix.visual = bpp == 8 ? FB_VISUAL_PSEUDOCOLOR : FB_VISUAL_TRUECOLOR;
    s.fix.xpanstep = s.fix.ypanstep = s.fix.ywrapstep = 1;
    s.fix.line_length = 640 * ((bpp + 7) / 8);
    s.memory_len = memory;
    return s;
}

// A DRM driver's fbdev emulation as the kernel tests' VM reads it: a
// screen-sized buffer whose start is not disclosed, no timings, accel_flags 1.
DeviceScript drm(const char *id, std::uint32_t xres, std::uint32_t yres, std::uint32_t bpp)
{
    DeviceScript s;
    fb_var_screeninfo &v = s.var;
    v.xres = v.xres_virtual = xres;
    v.yres = v.yres_virtual = yres;
    v.bits_per_pixel = bpp;
    if (bpp == 16) {
        v.red = {11, 5, 0};
        v.green = {5, 6, 0};
        v.blue = {0, 5, 0};
    } else {
        v.red = {16, 8, 0};
        v.green = {8, 8, 0};
        v.blue = {0, 8, 0};
    }
    v.accel_flags = 1;
    std::strncpy(s.fix.id, id, sizeof s.fix.id - 1);
    s.fix.smem_start = 0;
    s.fix.line_length = xres * (bpp / 8);
    s.fix.smem_len = s.fix.line_length * yres;
    s.fix.type = FB_TYPE_PACKED_PIXELS;
    s.fix.visual = FB_VISUAL_TRUECOLOR;
    s.fix.xpanstep = s.fix.ypanstep = 1;
    s.memory_len = s.fix.smem_len;
    return s;
}

struct Seed {
    const char *name;
    DeviceScript script;
};

std::vector<Seed> seeds()
{
    const DeviceScript base = four_by_two();
    DeviceScript elsewhere = base;
    elsewhere.flags = SCRIPT_MAP_ELSEWHERE;
    DeviceScript keeps_depth = base;
    keeps_depth.after_put = AFTER_PUT_KEEPS_DEPTH;
    DeviceScript no_node = base;
    no_node.flags = SCRIPT_NO_NODE;
    DeviceScript fd_zero = base;
    fd_zero.flags = SCRIPT_FD_ZERO;
    DeviceScript no_argument = base;
    no_argument.flags = SCRIPT_NO_ARGUMENT;
    DeviceScript other_mode = base;
    other_mode.after_put = AFTER_PUT_OTHER_MODE;
    other_mode.mode_after_put = sized(base, 8, 8, 24).var;
    DeviceScript vfb_default = vfb(8, 1048576);
    vfb_default.flags = SCRIPT_NO_ARGUMENT;

    return {
        // The lying devices of the unit tests.
        {"lie-reports-another-depth", reporting_after_put(base, 32)},
        {"lie-read-back-reports-zero-depth", reporting_after_put(base, 0)},
        {"lie-reports-zero-depth-at-open", sized(base, 4, 2, 0)},
        {"lie-reports-zero-by-zero", sized(base, 0, 0, 16)},
        {"lie-reports-screen-beyond-its-memory", sized(base, 4096, 4096, 16)},
        {"lie-maps-where-it-chooses", elsewhere},
        {"lie-ignores-depth", keeps_depth},
        {"lie-size-beyond-32-bits", sized(base, 65536, 32768, 32)},
        {"lie-size-wraps-in-64-bits", sized(base, 0x80010001U, 0xfffe0002U, 32)},
        {"lie-reads-back-another-mode", other_mode},
        // One failing call at a time, and ioctls that return 1.
        {"fault-open", with_fault(base, STEP_OPEN, ENOENT)},
        {"fault-get-var", with_fault(base, STEP_GET_VAR, EINVAL)},
        {"fault-get-fix", with_fault(base, STEP_GET_FIX, EIO)},
        {"fault-mmap", with_fault(base, STEP_MMAP, ENOMEM)},
        {"fault-put-var", with_fault(base, STEP_PUT_VAR, EINVAL)},
        {"fault-get-var-again", with_fault(base, STEP_GET_VAR_AGAIN, EIO)},
        {"fault-munmap", with_fault(base, STEP_MUNMAP, EINVAL)},
        {"fault-close", with_fault(base, STEP_CLOSE, EINTR)},
        {"nonzero-get-var", with_fault(base, STEP_GET_VAR, SCRIPT_NONZERO)},
        {"nonzero-put-var", with_fault(base, STEP_PUT_VAR, SCRIPT_NONZERO)},
        {"no-node", no_node},
        {"fd-zero", fd_zero},
        {"no-argument", no_argument},
        {"same-depth", asking(base, "16")},
        {"clean-switch", base},
        // Real drivers as the kernel tests meet them.
        {"vfb-640x480-16-to-24", asking(vfb(16, 1048576), "24")},
        {"vfb-640x480-16-same", asking(vfb(16, 1048576), "16")},
        {"vfb-640x480-16-rounds-18", reporting_after_put(asking(vfb(16, 1048576), "18"), 24)},
        {"vfb-640x480-16-1mib-refuses-32",
         with_fault(asking(vfb(16, 1048576), "32"), STEP_PUT_VAR, ENOMEM)},
        {"vfb-640x480-8-default", vfb_default},
        {"cirrus-1024x768-16-refuses-24",
         with_fault(asking(drm("cirrusdrmfb", 1024, 768, 16), "24"), STEP_PUT_VAR, EINVAL)},
        {"virtio-gpu-1280x800-32-ignores-16",
         [] {
             DeviceScript s = asking(drm("virtio_gpudrmfb", 1280, 800, 32), "16");
             s.var.width = 320;
             s.var.height = 200;
             s.after_put = AFTER_PUT_KEEPS_DEPTH;
             return s;
         }()},
    };
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        (void)std::fprintf(stderr, "usage: device_seeds DIRECTORY\n");
        return 2;
    }
    for (const Seed &seed : seeds()) {
        const std::string path = std::string(argv[1]) + "/" + seed.name;
        const std::vector<std::uint8_t> bytes = script_encode(seed.script);
        std::FILE *f = std::fopen(path.c_str(), "wb");
        bool written = f != nullptr;
        if (written) {
            written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
            written = std::fclose(f) == 0 && written;
        }
        if (!written) {
            (void)std::fprintf(stderr, "device_seeds: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
