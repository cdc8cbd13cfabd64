// SPDX-License-Identifier: MIT
// A device script: what the fake framebuffer answers in one run, and its byte layout, shared by
// the device fuzz target and the tool that writes its seeds.
#ifndef PIXVANE_DEVICE_SCRIPT_H
#define PIXVANE_DEVICE_SCRIPT_H

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// The calls of a run as the device sees them; each can be made to fail.
enum ScriptStep : std::uint8_t {
    STEP_OPEN,
    STEP_GET_VAR,
    STEP_GET_FIX,
    STEP_MMAP,
    STEP_PUT_VAR,
    STEP_GET_VAR_AGAIN, // the read-back after a put
    STEP_MUNMAP,
    STEP_CLOSE,
    STEP_COUNT
};

// The mode the device runs at once it accepted a put.
enum ScriptAfterPut : std::uint8_t {
    AFTER_PUT_AS_SENT,     // the record sent
    AFTER_PUT_KEEPS_DEPTH, // the record sent, at the depth found at open
    AFTER_PUT_OTHER_DEPTH, // the record sent, at depth_after_put
    AFTER_PUT_OTHER_MODE,  // mode_after_put, whatever was sent
    AFTER_PUT_COUNT
};

// Bits of DeviceScript::flags.
constexpr std::uint8_t SCRIPT_NO_ARGUMENT = 1;   // run without an argument
constexpr std::uint8_t SCRIPT_NO_NODE = 2;       // there is no /dev/fb/0
constexpr std::uint8_t SCRIPT_FD_ZERO = 4;       // the device opens as descriptor 0
constexpr std::uint8_t SCRIPT_MAP_ELSEWHERE = 8; // mmap lands outside the video memory buffer

// A fault byte: 0, the call succeeds; SCRIPT_NONZERO, an ioctl returns 1
// without errno (any other call fails with EIO); else the call fails with
// that errno.
constexpr std::uint8_t SCRIPT_NONZERO = 0xff;

// The video memory a device may have; a script asking for more gets this much.
constexpr std::uint32_t SCRIPT_MAX_MEMORY = std::uint32_t{1} << 22;
// The longest argument a script gives.
constexpr std::size_t SCRIPT_MAX_ARGUMENT = 32;

struct DeviceScript {
    std::uint8_t flags = 0;
    std::uint8_t fault[STEP_COUNT] = {};
    std::uint8_t after_put = AFTER_PUT_AS_SENT;
    std::uint32_t memory_len = 0;       // video memory; mmap refuses a longer span
    std::uint32_t depth_after_put = 0;  // AFTER_PUT_OTHER_DEPTH
    fb_var_screeninfo var{};            // the mode at open
    fb_fix_screeninfo fix{};            // the fixed information
    fb_var_screeninfo mode_after_put{}; // AFTER_PUT_OTHER_MODE
    std::string argument;               // the first argument
};

// The layout, in this order: flags, the fault bytes, after_put, memory_len,
// depth_after_put, var, fix, mode_after_put in host byte order, then the
// argument up to the first NUL or the end. Bytes past the end of a short
// input read as 0.
constexpr std::size_t SCRIPT_FIXED_BYTES = 1 + STEP_COUNT + 1 + 4 + 4 + sizeof(fb_var_screeninfo) +
                                           sizeof(fb_fix_screeninfo) + sizeof(fb_var_screeninfo);

// Copies f into out with every padding byte 0, so that one script always
// encodes alike.
inline void script_fix_without_padding(const fb_fix_screeninfo &f, fb_fix_screeninfo &out)
{
    std::memset(&out, 0, sizeof out);
    std::memcpy(out.id, f.id, sizeof out.id);
    out.smem_start = f.smem_start;
    out.smem_len = f.smem_len;
    out.type = f.type;
    out.type_aux = f.type_aux;
    out.visual = f.visual;
    out.xpanstep = f.xpanstep;
    out.ypanstep = f.ypanstep;
    out.ywrapstep = f.ywrapstep;
    out.line_length = f.line_length;
    out.mmio_start = f.mmio_start;
    out.mmio_len = f.mmio_len;
    out.accel = f.accel;
    out.capabilities = f.capabilities;
    std::memcpy(out.reserved, f.reserved, sizeof out.reserved);
}

inline std::vector<std::uint8_t> script_encode(const DeviceScript &s)
{
    fb_fix_screeninfo fix;
    script_fix_without_padding(s.fix, fix);
    std::vector<std::uint8_t> out(SCRIPT_FIXED_BYTES);
    std::size_t at = 0;
    const auto put = [&out, &at](const void *field, std::size_t n) {
        std::memcpy(out.data() + at, field, n);
        at += n;
    };
    put(&s.flags, 1);
    put(s.fault, STEP_COUNT);
    put(&s.after_put, 1);
    put(&s.memory_len, 4);
    put(&s.depth_after_put, 4);
    put(&s.var, sizeof s.var);
    put(&fix, sizeof fix);
    put(&s.mode_after_put, sizeof s.mode_after_put);
    out.insert(out.end(), s.argument.begin(), s.argument.end());
    return out;
}

inline DeviceScript script_decode(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> fixed(SCRIPT_FIXED_BYTES, 0);
    if (size > 0)
        std::memcpy(fixed.data(), data, size < SCRIPT_FIXED_BYTES ? size : SCRIPT_FIXED_BYTES);
    DeviceScript s;
    std::size_t at = 0;
    const auto get = [&fixed, &at](void *field, std::size_t n) {
        std::memcpy(field, fixed.data() + at, n);
        at += n;
    };
    get(&s.flags, 1);
    get(s.fault, STEP_COUNT);
    get(&s.after_put, 1);
    get(&s.memory_len, 4);
    get(&s.depth_after_put, 4);
    get(&s.var, sizeof s.var);
    get(&s.fix, sizeof s.fix);
    get(&s.mode_after_put, sizeof s.mode_after_put);
    s.after_put = static_cast<std::uint8_t>(s.after_put % AFTER_PUT_COUNT);
    if (s.memory_len > SCRIPT_MAX_MEMORY)
        s.memory_len = SCRIPT_MAX_MEMORY;
    for (std::size_t i = SCRIPT_FIXED_BYTES;
         i < size && data[i] != 0 && s.argument.size() < SCRIPT_MAX_ARGUMENT; ++i)
        s.argument.push_back(static_cast<char>(data[i]));
    return s;
}

#endif
