// SPDX-License-Identifier: MIT
// Whole runs with one system call failing, or a device that lies: lines, exit status, and release.
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_fb.h"
#include "run_driver.h"

namespace
{

using Lines = std::vector<std::string>;

const Lines BANNER{"Pixvane by Qor-EN", ""};
const std::string FB_LINE = "QUIL_VO: FB 32@0x3c000000";
const Lines SWITCH_START{FB_LINE, "QUIL_VO: set new bpp 24 (16) on FB",
                         "QUIL_VO: switching to bpp: 24"};
const Lines SWITCHED{FB_LINE, "QUIL_VO: set new bpp 24 (16) on FB", "QUIL_VO: switching to bpp: 24",
                     "QUIL_VO: seted bpp on FB", "QUIL_VO: All uninit"};

Lines join(Lines a, const Lines &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Everything taken was given back once, and nothing was given back that
// was not taken.
void expect_released_exactly_once()
{
    const FakeFb &fb = fake_fb();
    std::vector<int> opened;
    std::vector<int> closed;
    for (const FakeCall &c : fb.calls) {
        if (c.call == SysCall::open && c.result >= 0)
            opened.push_back(c.fd);
        if (c.call == SysCall::close)
            closed.push_back(c.fd);
    }
    EXPECT_EQ(closed, opened) << "each open needs exactly one close of its descriptor";

    const auto maps = fake_fb_calls(SysCall::mmap);
    const auto unmaps = fake_fb_calls(SysCall::munmap);
    std::size_t mapped = 0;
    for (const FakeCall &m : maps) {
        if (m.addr == MAP_FAILED)
            continue;
        ++mapped;
        ASSERT_EQ(unmaps.size(), 1U) << "a mapping needs exactly one unmap";
        EXPECT_EQ(unmaps[0].addr, m.addr);
        EXPECT_EQ(unmaps[0].len, m.len);
    }
    if (mapped == 0) {
        EXPECT_TRUE(unmaps.empty()) << "unmapped what was never mapped";
    }
    EXPECT_TRUE(fb.open_fds.empty());
}

// --- One failing call at a time ------------------------------------------------------------------

// The calls of a 16 -> 24 run, in order.
enum Call { OPEN, GET_VAR, GET_FIX, MMAP, PUT_VAR, GET_VAR_AGAIN, MUNMAP, CLOSE };

struct Injection {
    Call call;
    int error;
};

void PrintTo(const Injection &row, std::ostream *os)
{
    *os << "call " << row.call << " errno " << row.error;
}

Lines lines_after_failure(Call call)
{
    switch (call) {
    case OPEN:
        return join(BANNER, {"QUIL_VO: Can't open /dev/fb/0"});
    case GET_VAR:
        return join(BANNER, {"QUIL_VO: Can't get VSCREENINFO"});
    case GET_FIX:
        return join(BANNER, {"QUIL_VO: Can't get FSCREENINFO"});
    case MMAP:
        return join(BANNER, {FB_LINE, "QUIL_VO: Can't mmap"});
    case PUT_VAR:
        return join(join(BANNER, SWITCH_START),
                    {"QUIL_VO: Can't set VSCREENINFO", "QUIL_VO: All uninit"});
    case GET_VAR_AGAIN:
        return join(join(BANNER, SWITCH_START),
                    {"QUIL_VO: Can't get VSCREENINFO", "QUIL_VO: All uninit"});
    case MUNMAP:
    case CLOSE:
        // Release failures are not reported: the switch itself took.
        return join(BANNER, SWITCHED);
    }
    return {};
}

class FaultInjection : public ::testing::TestWithParam<Injection>
{
};

TEST_P(FaultInjection, OneFailingCallGivesItsLineExitOneAndReleasesOnce)
{
    const Injection &row = GetParam();
    fake_fb_reset(4, 2, 16);
    fake_fb().fail_at = row.call;
    fake_fb().fail_errno = row.error;

    Lines lines;
    EXPECT_EQ(run_driver({"24"}, lines), 1);
    EXPECT_EQ(lines, lines_after_failure(row.call));
    ASSERT_GT(fake_fb().calls.size(), static_cast<std::size_t>(row.call));
    EXPECT_EQ(fake_fb().calls[static_cast<std::size_t>(row.call)].error, row.error)
        << "the fault landed on another call than planned";
    expect_released_exactly_once();
}

std::vector<Injection> every_call_and_errno()
{
    const std::vector<std::pair<Call, std::vector<int>>> table{
        {OPEN, {ENOENT, EACCES, ENXIO, ENODEV, EBUSY, EMFILE, EINTR}},
        {GET_VAR, {EINVAL, EFAULT, ENOTTY, EIO, ENODEV}},
        {GET_FIX, {EINVAL, EFAULT, ENOTTY, EIO, ENODEV}},
        {MMAP, {EINVAL, ENOMEM, ENODEV, EACCES, EAGAIN}},
        {PUT_VAR, {EINVAL, ENOMEM, EBUSY, EPERM, EFAULT, ENOTTY}},
        {GET_VAR_AGAIN, {EINVAL, EFAULT, EIO, ENODEV}},
        {MUNMAP, {EINVAL, ENOMEM}},
        {CLOSE, {EIO, EINTR}},
    };
    std::vector<Injection> rows;
    for (const auto &[call, errors] : table)
        for (const int e : errors)
            rows.push_back({call, e});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, FaultInjection, ::testing::ValuesIn(every_call_and_errno()));

TEST(FaultInjection, ACleanRunMakesExactlyTheCallsTheTableCovers)
{
    fake_fb_reset(4, 2, 16);
    Lines lines;
    EXPECT_EQ(run_driver({"24"}, lines), 1);
    EXPECT_EQ(lines, join(BANNER, SWITCHED));

    const std::vector<SysCall> order{SysCall::open,   SysCall::ioctl, SysCall::ioctl,
                                     SysCall::mmap,   SysCall::ioctl, SysCall::ioctl,
                                     SysCall::munmap, SysCall::close};
    std::vector<SysCall> made;
    for (const FakeCall &c : fake_fb().calls)
        made.push_back(c.call);
    EXPECT_EQ(made, order);
    expect_released_exactly_once();
}

// --- A device that lies --------------------------------------------------------------------------

struct Lie {
    const char *name;
    std::uint32_t xres, yres, bpp; // what the device reports at open
    std::int64_t report_bpp;       // if not -1: depth reported after the put
    bool map_elsewhere;            // mmap lands at an address of the fake's choice
    Lines after_banner;
};

void PrintTo(const Lie &row, std::ostream *os)
{
    *os << row.name;
}

class LyingDevice : public ::testing::TestWithParam<Lie>
{
};

TEST_P(LyingDevice, IsReportedAndEverythingIsReleased)
{
    const Lie &row = GetParam();
    fake_fb_reset(4, 2, 16);
    fake_fb().var.xres = row.xres;
    fake_fb().var.yres = row.yres;
    fake_fb().var.bits_per_pixel = row.bpp;
    fake_fb().report_bpp = row.report_bpp;
    std::vector<unsigned char> elsewhere(32, 0xee);
    if (row.map_elsewhere)
        fake_fb().mmap_at = elsewhere.data();

    Lines lines;
    EXPECT_EQ(run_driver({"24"}, lines), 1);
    EXPECT_EQ(lines, join(BANNER, row.after_banner));
    expect_released_exactly_once();
    if (row.map_elsewhere) {
        std::vector<unsigned char> expected(32, 0xee);
        std::fill(expected.begin(), expected.begin() + 16, 0x00);
        EXPECT_EQ(elsewhere, expected) << "blanked outside the mapping the device chose";
    }
}

const Lines SWITCH_ERROR{FB_LINE, "QUIL_VO: set new bpp 24 (16) on FB",
                         "QUIL_VO: switching to bpp: 24", "QUIL_VO: ERROR switching to bpp: 24",
                         "QUIL_VO: All uninit"};

INSTANTIATE_TEST_SUITE_P(
    Table, LyingDevice,
    ::testing::Values(
        Lie{"ReportsAnotherDepth", 4, 2, 16, 32, false, SWITCH_ERROR},
        Lie{"ReadBackReportsZeroDepth", 4, 2, 16, 0, false, SWITCH_ERROR},
        Lie{"ReportsZeroDepthAtOpen", 4, 2, 0, -1, false, {FB_LINE, "QUIL_VO: Can't mmap"}},
        Lie{"ReportsZeroByZero", 0, 0, 16, -1, false, {FB_LINE, "QUIL_VO: Can't mmap"}},
        Lie{"ReportsScreenBeyondItsMemory",
            4096,
            4096,
            16,
            -1,
            false,
            {FB_LINE, "QUIL_VO: Can't mmap"}},
        Lie{"MapsWhereItChooses", 4, 2, 16, -1, true, SWITCHED}),
    [](const auto &p) { return std::string(p.param.name); });

} // namespace
