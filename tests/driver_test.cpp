// SPDX-License-Identifier: MIT
// The command-line driver on the fake framebuffer: which depth reaches the device, banner, exit
// status.
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "doc_recipes.h"
#include "fake_fb.h"
#include "run_driver.h"

namespace
{

using Lines = std::vector<std::string>;

struct ArgRow {
    const char *name;
    std::vector<std::string> args;
    std::uint32_t depth; // what the device is asked for
};

void PrintTo(const ArgRow &row, std::ostream *os)
{
    *os << row.name;
}

class DriverArgument : public ::testing::TestWithParam<ArgRow>
{
};

TEST_P(DriverArgument, SendsTheBoundedDepthToTheDevice)
{
    const ArgRow &row = GetParam();
    // The device starts at a depth no row asks for, so every run sends one request.
    fake_fb_reset(4, 2, 4);

    Lines lines;
    EXPECT_EQ(run_driver(row.args, lines), 1);

    std::vector<FakeCall> puts;
    for (const FakeCall &c : fake_fb_calls(SysCall::ioctl))
        if (c.request == static_cast<unsigned long>(FBIOPUT_VSCREENINFO))
            puts.push_back(c);
    ASSERT_EQ(puts.size(), 1U);
    EXPECT_EQ(puts[0].var.bits_per_pixel, row.depth);
    EXPECT_EQ(fake_fb().var.bits_per_pixel, row.depth);

    const std::string depth = std::to_string(row.depth);
    const Lines expected{"Pixvane by Qor-EN",
                         "",
                         "QUIL_VO: FB 32@0x3c000000",
                         "QUIL_VO: set new bpp " + depth + " (4) on FB",
                         "QUIL_VO: switching to bpp: " + depth,
                         "QUIL_VO: seted bpp on FB",
                         "QUIL_VO: All uninit"};
    EXPECT_EQ(lines, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriverArgument,
    ::testing::Values(
        ArgRow{"NoArgument", {}, 24}, ArgRow{"Lowest", {"8"}, 8}, ArgRow{"Highest", {"32"}, 32},
        ArgRow{"BelowLowest", {"7"}, 24}, ArgRow{"AboveHighest", {"33"}, 24},
        ArgRow{"Negative", {"-16"}, 24}, ArgRow{"Letters", {"deep"}, 24}, ArgRow{"Zero", {"0"}, 24},
        ArgRow{"Empty", {""}, 24}, ArgRow{"TrailingTextIgnored", {"16bpp"}, 16},
        ArgRow{"LeadingSpace", {" 16"}, 16}, ArgRow{"PlusSign", {"+16"}, 16},
        ArgRow{"HexIsNotParsed", {"0x10"}, 24}, ArgRow{"OctalLookingIsDecimal", {"010"}, 10},
        ArgRow{"WrapsTo16In32Bits", {"4294967312"}, 24},
        ArgRow{"NegativeWrapsTo16In32Bits", {"-4294967280"}, 24},
        ArgRow{"BeyondLong", {"99999999999999999999999"}, 24},
        ArgRow{"BelowLong", {"-99999999999999999999999"}, 24},
        ArgRow{"OddDepthPassedOn", {"18"}, 18}, ArgRow{"SecondArgumentIgnored", {"16", "32"}, 16},
        ArgRow{"SecondArgumentDoesNotRescue", {"x", "16"}, 24}),
    [](const auto &p) { return std::string(p.param.name); });

// README's table of arguments, row by row: every command line a row gives
// asks the device for the depth in its second column.
TEST(DocumentedArguments, EachRowAsksTheDeviceForItsDepth)
{
    const auto rows = doc_table(PIXVANE_README, "arguments");
    ASSERT_GE(rows.size(), 8U) << "README.md holds no table of arguments";
    for (const auto &row : rows) {
        ASSERT_GE(row.size(), 2U);
        char *end = nullptr;
        const unsigned long depth = std::strtoul(row[1].c_str(), &end, 10);
        ASSERT_TRUE(!row[1].empty() && *end == '\0') << "not a depth: " << row[1];
        for (const auto &args : doc_command_lines(row[0])) {
            SCOPED_TRACE(row[0]);
            fake_fb_reset(4, 2, 4);
            Lines lines;
            EXPECT_EQ(run_driver(args, lines), 1);
            EXPECT_EQ(fake_fb().var.bits_per_pixel, depth);
        }
    }
}

TEST(Driver, WithoutDeviceWritesBannerAndOpenFailureOnlyAndExitsOne)
{
    fake_fb_reset(4, 2, 16);
    fake_fb().present = false;

    Lines lines;
    EXPECT_EQ(run_driver({"16"}, lines), 1);
    EXPECT_EQ(lines, (Lines{"Pixvane by Qor-EN", "", "QUIL_VO: Can't open /dev/fb/0"}));
    EXPECT_EQ(fake_fb().calls.size(), 1U);
}

TEST(Driver, FailedSwitchStillTearsDownAndExitsOne)
{
    fake_fb_reset(4, 2, 16);
    fake_fb().fail_at = 4; // the put
    fake_fb().fail_errno = 22;

    Lines lines;
    EXPECT_EQ(run_driver({"32"}, lines), 1);
    EXPECT_EQ(lines, (Lines{"Pixvane by Qor-EN", "", "QUIL_VO: FB 32@0x3c000000",
                            "QUIL_VO: set new bpp 32 (16) on FB", "QUIL_VO: switching to bpp: 32",
                            "QUIL_VO: Can't set VSCREENINFO", "QUIL_VO: All uninit"}));
    EXPECT_TRUE(fake_fb().open_fds.empty());
    EXPECT_TRUE(fake_fb().mappings.empty());
}

} // namespace
