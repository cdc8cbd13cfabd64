// SPDX-License-Identifier: MIT
// The video-output module against the fake framebuffer: lines, calls, mapping lengths and memory.
#include "vo.h"

#include <sys/mman.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture.h"
#include "fake_fb.h"

namespace
{

using Lines = std::vector<std::string>;

const std::string FB_LINE = "QUIL_VO: FB 32@0x3c000000"; // 4x2 at up to 4 bytes a pixel

class VoTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake_fb_reset(4, 2, 16);
        vo_reset_state();
    }

    // Runs vo_open and returns its result, with the lines it wrote in opened.
    int open_device()
    {
        capture_start();
        const int r = vo_open();
        opened = capture_lines(capture_stop());
        return r;
    }

    static Lines set_bpp(int bpp, int &result)
    {
        capture_start();
        result = vo_set_bpp(bpp);
        return capture_lines(capture_stop());
    }

    static Lines uninit()
    {
        capture_start();
        vo_uninit();
        return capture_lines(capture_stop());
    }

    static bool memory_is(std::size_t from, std::size_t to, unsigned char value)
    {
        const auto &mem = fake_fb().memory;
        for (std::size_t i = from; i < to; ++i)
            if (mem.at(i) != value)
                return false;
        return true;
    }

    Lines opened;
};

// Each open is closed exactly once and every mapping is gone.
void expect_all_released()
{
    std::size_t opened = 0;
    for (const FakeCall &c : fake_fb_calls(SysCall::open))
        opened += c.result >= 0 ? 1U : 0U;
    EXPECT_EQ(opened, fake_fb_calls(SysCall::close).size());
    EXPECT_TRUE(fake_fb().open_fds.empty());
    EXPECT_TRUE(fake_fb().mappings.empty());
}

// --- The open step and its failures -------------------------------------------------------------

struct OpenFailure {
    const char *name;
    int fail_call; // index of the call that fails; -1: no device node
    Lines lines;
    bool opened; // whether a descriptor was taken that must come back
};

void PrintTo(const OpenFailure &row, std::ostream *os)
{
    *os << row.name;
}

class VoOpenFailure : public VoTest, public ::testing::WithParamInterface<OpenFailure>
{
};

TEST_P(VoOpenFailure, WritesOnlyItsLineAndReleasesWhatItTook)
{
    const OpenFailure &row = GetParam();
    if (row.fail_call < 0) {
        fake_fb().present = false;
    } else {
        fake_fb().fail_at = row.fail_call;
        fake_fb().fail_errno = EIO;
    }

    EXPECT_EQ(open_device(), 0);
    EXPECT_EQ(opened, row.lines);
    EXPECT_TRUE(memory_is(0, fake_fb().memory.size(), 0xff)) << "a failed open touched the screen";

    // Teardown after a failed open is silent and releases nothing more.
    const std::size_t calls_before = fake_fb().calls.size();
    EXPECT_EQ(uninit(), Lines{});
    EXPECT_EQ(fake_fb().calls.size(), calls_before);
    EXPECT_EQ(fake_fb_calls(SysCall::close).size(), row.opened ? 1U : 0U);
    expect_all_released();

    int r = -1;
    EXPECT_EQ(set_bpp(24, r), Lines{});
    EXPECT_EQ(r, 0);
}

// Calls in order: open, get var, get fix, mmap.
INSTANTIATE_TEST_SUITE_P(
    Table, VoOpenFailure,
    ::testing::Values(
        OpenFailure{"NoDevice", -1, {"QUIL_VO: Can't open /dev/fb/0"}, false},
        OpenFailure{"OpenFails", 0, {"QUIL_VO: Can't open /dev/fb/0"}, false},
        OpenFailure{"ModeReadFails", 1, {"QUIL_VO: Can't get VSCREENINFO"}, true},
        OpenFailure{"FixedReadFailsStillCloses", 2, {"QUIL_VO: Can't get FSCREENINFO"}, true},
        OpenFailure{"MmapFailsStillCloses", 3, {FB_LINE, "QUIL_VO: Can't mmap"}, true}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(VoTest, OpenReadsModeThenFixedInfoThenMapsSharedReadWrite)
{
    ASSERT_EQ(open_device(), 1);
    EXPECT_EQ(opened, Lines{FB_LINE});

    const auto opens = fake_fb_calls(SysCall::open);
    ASSERT_EQ(opens.size(), 1U);
    EXPECT_EQ(opens[0].path, "/dev/fb/0");
    EXPECT_EQ(opens[0].flags, O_RDWR);
    EXPECT_EQ(fake_fb_ioctls(), (std::vector<unsigned long>{0x4600, 0x4602}));

    const auto maps = fake_fb_calls(SysCall::mmap);
    ASSERT_EQ(maps.size(), 1U);
    EXPECT_EQ(maps[0].prot, PROT_READ | PROT_WRITE);
    EXPECT_EQ(maps[0].flags, MAP_SHARED);
    EXPECT_EQ(maps[0].fd, opens[0].fd);
}

TEST_F(VoTest, OpenAndTeardownBlankTheMappedScreenAndNothingElse)
{
    ASSERT_EQ(open_device(), 1);
    EXPECT_TRUE(memory_is(0, 16, 0x00)) << "screen not blanked at open";
    EXPECT_TRUE(memory_is(16, 32, 0xff)) << "open wrote past the visible screen";

    // Something draws between open and teardown; the teardown blanks it again.
    std::memset(fake_fb().memory.data(), 0x5a, 16);
    EXPECT_EQ(uninit(), Lines{"QUIL_VO: All uninit"});
    EXPECT_TRUE(memory_is(0, 16, 0x00)) << "screen not blanked at teardown";
    EXPECT_TRUE(memory_is(16, 32, 0xff));
    expect_all_released();
}

// --- Mapping length
// -------------------------------------------------------------------------------

struct SizeRow {
    std::uint32_t bpp;
    std::size_t bytes; // for 4x2 pixels
};

void PrintTo(const SizeRow &row, std::ostream *os)
{
    *os << row.bpp << " bpp";
}

class VoMappingLength : public VoTest, public ::testing::WithParamInterface<SizeRow>
{
};

TEST_P(VoMappingLength, MapBothClearsAndUnmapUseOneLength)
{
    const SizeRow &row = GetParam();
    fake_fb_reset(4, 2, row.bpp);
    EXPECT_EQ(vo_frame_bytes(fake_fb().var), row.bytes);

    ASSERT_EQ(open_device(), 1);
    EXPECT_TRUE(memory_is(0, row.bytes, 0x00));
    EXPECT_TRUE(memory_is(row.bytes, 32, 0xff));
    std::memset(fake_fb().memory.data(), 0x5a, 32);
    uninit();

    const auto maps = fake_fb_calls(SysCall::mmap);
    const auto unmaps = fake_fb_calls(SysCall::munmap);
    ASSERT_EQ(maps.size(), 1U);
    ASSERT_EQ(unmaps.size(), 1U);
    EXPECT_EQ(maps[0].len, row.bytes);
    EXPECT_EQ(unmaps[0].len, row.bytes);
    EXPECT_EQ(unmaps[0].addr, maps[0].addr);
    EXPECT_TRUE(memory_is(0, row.bytes, 0x00));
    EXPECT_TRUE(memory_is(row.bytes, 32, 0x5a)) << "teardown cleared past the mapping";
    expect_all_released();
}

INSTANTIATE_TEST_SUITE_P(FourByTwo, VoMappingLength,
                         ::testing::Values(SizeRow{1, 8}, SizeRow{8, 8}, SizeRow{9, 16},
                                           SizeRow{16, 16}, SizeRow{18, 24}, SizeRow{24, 24},
                                           SizeRow{25, 32}, SizeRow{32, 32}));

TEST_F(VoTest, TeardownAfterDeepeningSwitchKeepsTheLengthFoundAtOpen)
{
    ASSERT_EQ(open_device(), 1);
    int r = 0;
    set_bpp(32, r);
    ASSERT_EQ(r, 1);
    ASSERT_EQ(fake_fb().var.bits_per_pixel, 32U);

    std::memset(fake_fb().memory.data(), 0x5a, 32);
    uninit();
    const auto unmaps = fake_fb_calls(SysCall::munmap);
    ASSERT_EQ(unmaps.size(), 1U);
    EXPECT_EQ(unmaps[0].len, 16U);
    EXPECT_TRUE(memory_is(0, 16, 0x00));
    EXPECT_TRUE(memory_is(16, 32, 0x5a)) << "teardown cleared with the new mode's length";
}

struct EmptyMode {
    const char *name;
    std::uint32_t xres, yres, bpp;
};

void PrintTo(const EmptyMode &row, std::ostream *os)
{
    *os << row.name;
}

class VoEmptyMode : public VoTest, public ::testing::WithParamInterface<EmptyMode>
{
};

TEST_P(VoEmptyMode, IsNotMappedAndTheDeviceIsClosed)
{
    const EmptyMode &row = GetParam();
    fake_fb_reset(4, 2, 16);
    fake_fb().var.xres = row.xres;
    fake_fb().var.yres = row.yres;
    fake_fb().var.bits_per_pixel = row.bpp;

    EXPECT_EQ(vo_frame_bytes(fake_fb().var), 0U);
    EXPECT_EQ(open_device(), 0);
    EXPECT_EQ(opened, (Lines{FB_LINE, "QUIL_VO: Can't mmap"}));
    EXPECT_TRUE(fake_fb_calls(SysCall::mmap).empty());
    EXPECT_EQ(uninit(), Lines{});
    expect_all_released();
}

INSTANTIATE_TEST_SUITE_P(
    Table, VoEmptyMode,
    ::testing::Values(EmptyMode{"ZeroDepth", 4, 2, 0}, EmptyMode{"ZeroWidth", 0, 2, 16},
                      EmptyMode{"ZeroHeight", 4, 0, 16},
                      EmptyMode{"SizeBeyond32Bits", 65536, 32768, 32},
                      // 2^63 + 2 pixels: four bytes each wrap 64 bits to 8.
                      EmptyMode{"SizeWrapsIn64Bits", 0x80010001U, 0xfffe0002U, 32}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(VoTest, DeviceOpenedAsDescriptorZeroIsClosedAtTeardown)
{
    fake_fb().next_fd = 0; // the caller closed its standard input
    ASSERT_EQ(open_device(), 1);
    EXPECT_EQ(uninit(), Lines{"QUIL_VO: All uninit"});
    const auto closes = fake_fb_calls(SysCall::close);
    ASSERT_EQ(closes.size(), 1U);
    EXPECT_EQ(closes[0].fd, 0);
    expect_all_released();
}

TEST_F(VoTest, TeardownOfAFreshStateWritesAndReleasesNothing)
{
    EXPECT_EQ(uninit(), Lines{});
    EXPECT_TRUE(fake_fb().calls.empty());
}

TEST_F(VoTest, MappingAtAnAddressOfTheDevicesChoiceIsUsedAndUnmapped)
{
    std::vector<unsigned char> elsewhere(32, 0xee);
    fake_fb().mmap_at = elsewhere.data();
    ASSERT_EQ(open_device(), 1);
    EXPECT_EQ(elsewhere[0], 0x00);
    EXPECT_EQ(elsewhere[15], 0x00);
    EXPECT_EQ(elsewhere[16], 0xee);
    uninit();
    const auto unmaps = fake_fb_calls(SysCall::munmap);
    ASSERT_EQ(unmaps.size(), 1U);
    EXPECT_EQ(unmaps[0].addr, elsewhere.data());
    expect_all_released();
}

// --- The depth switch
// -----------------------------------------------------------------------------

TEST_F(VoTest, SwitchBeforeMappingWritesNothingAndSendsNothing)
{
    int r = -1;
    EXPECT_EQ(set_bpp(24, r), Lines{});
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(fake_fb().calls.empty());
}

TEST_F(VoTest, SwitchFrom16To24SendsTheModeAndVerifiesIt)
{
    ASSERT_EQ(open_device(), 1);
    int r = 0;
    EXPECT_EQ(set_bpp(24, r), (Lines{"QUIL_VO: set new bpp 24 (16) on FB",
                                     "QUIL_VO: switching to bpp: 24", "QUIL_VO: seted bpp on FB"}));
    EXPECT_EQ(r, 1);
    EXPECT_EQ(fake_fb().var.bits_per_pixel, 24U);
    EXPECT_EQ(fake_fb_ioctls(), (std::vector<unsigned long>{0x4600, 0x4602, 0x4601, 0x4600}));
    EXPECT_EQ(uninit(), Lines{"QUIL_VO: All uninit"});
}

TEST_F(VoTest, RecordSentDiffersFromTheOneReadOnlyInDepth)
{
    const fb_var_screeninfo read_at_open = fake_fb().var;
    ASSERT_EQ(open_device(), 1);
    int r = 0;
    set_bpp(32, r);

    const auto puts = fake_fb_calls(SysCall::ioctl);
    ASSERT_EQ(puts.size(), 4U);
    ASSERT_EQ(puts[2].request, static_cast<unsigned long>(FBIOPUT_VSCREENINFO));
    fb_var_screeninfo expected = read_at_open;
    expected.bits_per_pixel = 32;
    EXPECT_EQ(std::memcmp(&puts[2].var, &expected, sizeof expected), 0)
        << "a field other than bits_per_pixel changed on the way to the device";
}

TEST_F(VoTest, SameDepthSendsNoRequest)
{
    ASSERT_EQ(open_device(), 1);
    int r = 0;
    EXPECT_EQ(set_bpp(16, r),
              (Lines{"QUIL_VO: set new bpp 16 (16) on FB", "QUIL_VO: seted bpp on FB"}));
    EXPECT_EQ(r, 1);
    EXPECT_EQ(fake_fb_ioctls(), (std::vector<unsigned long>{0x4600, 0x4602}));
}

struct SwitchFailure {
    const char *name;
    int fail_call;           // index of the failing call; -1: none
    bool keeps_depth;        // device accepts but stays at its depth
    std::int64_t report_bpp; // if not -1: device reports this depth after the put
    Lines tail;              // lines after "switching to bpp: 24"
};

void PrintTo(const SwitchFailure &row, std::ostream *os)
{
    *os << row.name;
}

class VoSwitchFailure : public VoTest, public ::testing::WithParamInterface<SwitchFailure>
{
};

TEST_P(VoSwitchFailure, WritesItsLineReturnsZeroAndTeardownStillReleases)
{
    const SwitchFailure &row = GetParam();
    ASSERT_EQ(open_device(), 1);
    fake_fb().fail_at = row.fail_call;
    fake_fb().fail_errno = EINVAL;
    fake_fb().put_keeps_depth = row.keeps_depth;
    fake_fb().report_bpp = row.report_bpp;

    int r = -1;
    Lines expected{"QUIL_VO: set new bpp 24 (16) on FB", "QUIL_VO: switching to bpp: 24"};
    expected.insert(expected.end(), row.tail.begin(), row.tail.end());
    EXPECT_EQ(set_bpp(24, r), expected);
    EXPECT_EQ(r, 0);

    fake_fb().fail_at = -1;
    EXPECT_EQ(uninit(), Lines{"QUIL_VO: All uninit"});
    EXPECT_EQ(fake_fb_calls(SysCall::munmap).at(0).len, 16U);
    expect_all_released();
}

// Calls after the open: 4 put, 5 get.
INSTANTIATE_TEST_SUITE_P(
    Table, VoSwitchFailure,
    ::testing::Values(
        SwitchFailure{"DeviceRefusesMode", 4, false, -1, {"QUIL_VO: Can't set VSCREENINFO"}},
        SwitchFailure{"ReadBackFails", 5, false, -1, {"QUIL_VO: Can't get VSCREENINFO"}},
        SwitchFailure{"DeviceIgnoresDepth", -1, true, -1, {"QUIL_VO: ERROR switching to bpp: 24"}},
        SwitchFailure{
            "DeviceRoundsToOther", -1, false, 32, {"QUIL_VO: ERROR switching to bpp: 24"}},
        SwitchFailure{
            "ReadBackReportsZero", -1, false, 0, {"QUIL_VO: ERROR switching to bpp: 24"}}),
    [](const auto &p) { return std::string(p.param.name); });

} // namespace
