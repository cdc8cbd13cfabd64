// SPDX-License-Identifier: MIT
// The static pixvane on a SoC display controller: the ARM PrimeCell PL111
// CLCD of qemu's Versatile Express (-M vexpress-a9, Cortex-A9), driven by the
// fbdev driver amba-clcd built into Debian's armmp kernel (fbvm --board
// vexpress). The DTB makes the transmitter both CLCDs feed a 640x480 panel and
// leaves one CLCD enabled:
//   clcd-mb  the motherboard's, with 8 MiB of video RAM at 0x4c000000: room
//            for the screen at every depth, so what it refuses is the depth
//   clcd-ct  the core tile's, with one screen at 16 bpp of DMA memory: room
//            for nothing deeper, so it shows a refusal for want of memory
// Both start at 640x480, 16 bpp (RGB565). The expected lines are written out
// by hand in run_lines; only the memory report of the "FB" line comes from the VM.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vm_run.h"

namespace
{

const std::size_t kPixels = std::size_t{640} * 480;
const unsigned long long kMotherboardVram = 0x4c000000;
const unsigned long long kMotherboardVramSize = 8ULL * 1024 * 1024;

struct Pl111Case {
    const char *name; // says which fault the case catches
    const char *clcd; // fbvm --dtb
    std::vector<std::string> args;
    int want; // the depth the tool asks for
    Outcome outcome;
};

// The mode amba-clcd starts in, and the memory of each CLCD. Until the first
// FBIOPUT_VSCREENINFO the driver reports neither a line length nor a visual.
void expect_boot_state(const VmRun &run, const std::string &clcd)
{
    const Fields &var = run.var_before;
    EXPECT_EQ(number(var, "xres"), 640u);
    EXPECT_EQ(number(var, "yres"), 480u);
    EXPECT_EQ(number(var, "bits_per_pixel"), 16u);
    EXPECT_EQ(number(var, "red.offset"), 11u);
    EXPECT_EQ(number(var, "red.length"), 5u);
    EXPECT_EQ(number(var, "green.offset"), 5u);
    EXPECT_EQ(number(var, "green.length"), 6u);
    EXPECT_EQ(number(var, "blue.offset"), 0u);
    EXPECT_EQ(number(var, "blue.length"), 5u);
    EXPECT_EQ(number(run.fix_before, "line_length"), 0u);
    EXPECT_EQ(number(run.fix_before, "visual"), 0u);
    if (clcd == "clcd-mb") {
        EXPECT_EQ(number(run.fix_before, "smem_start"), kMotherboardVram);
        EXPECT_EQ(number(run.fix_before, "smem_len"), kMotherboardVramSize);
    } else {
        EXPECT_EQ(number(run.fix_before, "smem_len"), kPixels * 2);
    }
}

// gtest names a case by this, not by its bytes.
void PrintTo(const Pl111Case &c, std::ostream *os)
{
    *os << c.name;
}

class Pl111 : public ::testing::TestWithParam<Pl111Case>
{
};

TEST_P(Pl111, DepthRequest)
{
    const Pl111Case &c = GetParam();
    const VmRun run = run_vm(
        {"--dtb", c.clcd, "--prefill", "0xff", "--setup", "cat /sys/class/graphics/fb0/name"},
        c.args);
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(run.setup_out, "CLCD FB\n") << "fb0 is not the PL111's";
    expect_boot_state(run, c.clcd);
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, c.want, c.outcome));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    if (c.outcome == Outcome::kSet) {
        EXPECT_EQ(number(run.var, "bits_per_pixel"), static_cast<unsigned>(c.want));
        expect_same_geometry(run.var_before, run.var);
        EXPECT_EQ(number(run.fix, "line_length"), 640u * static_cast<unsigned>(c.want) / 8);
    } else {
        // Refused or not sent: the mode is the one found, nothing rounded.
        EXPECT_EQ(run.var, run.var_before);
    }
    // Both clears cover the screen at the depth found at open, 16 bpp, and
    // nothing past it.
    expect_cleared_prefix(run, kPixels * 2);
}

const Pl111Case kPl111Cases[] = {
    {"MotherboardFrom16To32ClearsTheOldScreenOnly", "clcd-mb", {"32"}, 32, Outcome::kSet},
    {"MotherboardFrom16To8ClearsTheOldScreenOnly", "clcd-mb", {"8"}, 8, Outcome::kSet},
    {"MotherboardSameDepthSendsNothing", "clcd-mb", {"16"}, 16, Outcome::kSame},
    // No argument: the default, 24, which the PL111 has no format for.
    {"MotherboardDefault24IsRefusedAndTheModeKept", "clcd-mb", {}, 24, Outcome::kRefused},
    {"Motherboard18IsRefusedNotRounded", "clcd-mb", {"18"}, 18, Outcome::kRefused},
    {"Motherboard15IsRefusedNotRounded", "clcd-mb", {"15"}, 15, Outcome::kRefused},
    {"Motherboard12IsRefusedNotRounded", "clcd-mb", {"12"}, 12, Outcome::kRefused},
    // 640x480 at 32 bpp needs twice the core tile's memory.
    {"CoreTile32BeyondItsMemoryIsRefused", "clcd-ct", {"32"}, 32, Outcome::kRefused},
    // ...while a depth that fits is taken: the refusal above is the memory's.
    {"CoreTileFrom16To8WithinItsMemory", "clcd-ct", {"8"}, 8, Outcome::kSet},
};

INSTANTIATE_TEST_SUITE_P(Vexpress, Pl111, ::testing::ValuesIn(kPl111Cases),
                         [](const ::testing::TestParamInfo<Pl111Case> &param) {
                             return std::string(param.param.name);
                         });

} // namespace
