// SPDX-License-Identifier: MIT
// libFuzzer target: the whole driver on the fake framebuffer, with its arguments taken from the
// input.
#include "driver.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fake_fb.h"

namespace
{

constexpr std::size_t MAX_ARGS = 3;

// The depth the run asked the device for, or 0 when it sent no mode.
std::uint32_t depth_sent()
{
    std::uint32_t depth = 0;
    int puts = 0;
    for (const FakeCall &c : fake_fb_calls(SysCall::ioctl)) {
        if (c.request == static_cast<unsigned long>(FBIOPUT_VSCREENINFO)) {
            depth = c.var.bits_per_pixel;
            ++puts;
        }
    }
    return puts == 1 ? depth : 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The tool's lines are not what is under test here; keep them off the terminal.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // NUL bytes separate the arguments after the program name.
    std::vector<std::string> args{"pixvane"};
    if (size > 0) {
        args.emplace_back();
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                if (args.size() > MAX_ARGS)
                    break;
                args.emplace_back();
                continue;
            }
            args.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // A device at a depth no argument can ask for, so every run sends one mode.
    fake_fb_reset(4, 2, 4);
    const int status = pixvane_main(static_cast<int>(args.size()), argv.data());

    const std::uint32_t depth = depth_sent();
    if (status != 1 || depth < 8 || depth > 32)
        __builtin_trap();
    if (!fake_fb().open_fds.empty() || !fake_fb().mappings.empty())
        __builtin_trap();
    return 0;
}
