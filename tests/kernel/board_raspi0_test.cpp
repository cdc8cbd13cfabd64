// SPDX-License-Identifier: MIT
// The static pixvane on an ARMv6 machine: qemu's Raspberry Pi Zero (-M raspi0,
// an ARM1176) with Debian's armel rpi kernel and vfb built for it (fbvm
// --board raspi0). The pixvane of this build is the one for ARMv5TE and up;
// a build for ARMv7 (glibc armhf, Thumb-2), when one is given, must be shown
// not to run here at all. The expected lines are written out by hand in
// run_lines; only the memory report of the "FB" line comes from the VM.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vm_run.h"

namespace
{

const std::size_t kPixels = std::size_t{640} * 480;

// vfb at 640x480, 16 bpp, with its memory filled with 0xff; the setup names
// the CPU the case ran on.
const std::vector<std::string> kVfb16 = {"--vfb",     "vfb_enable=1 mode_option=640x480-16",
                                         "--prefill", "0xff",
                                         "--setup",   "grep -m1 '^model name' /proc/cpuinfo"};

// The ARM1176 reports itself as an ARMv6 core: "(v6l)".
void expect_armv6(const VmRun &run)
{
    EXPECT_NE(run.setup_out.find("ARMv6-compatible processor"), std::string::npos) << run.setup_out;
}

TEST(Armv6, SwitchFrom16To24)
{
    const VmRun run = run_vm(kVfb16, {"24"});
    ASSERT_TRUE(run.ok);
    expect_armv6(run);
    ASSERT_EQ(number(run.var_before, "bits_per_pixel"), 16u);
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 24, Outcome::kSet));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    // Both clears cover the screen at the depth found at open: two bytes a pixel.
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Armv6, SameDepthSendsNothing)
{
    const VmRun run = run_vm(kVfb16, {"16"});
    ASSERT_TRUE(run.ok);
    expect_armv6(run);
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 16, Outcome::kSame));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Armv6, DepthRoundedByDriverIsAnError)
{
    // vfb takes 18 and runs at 24.
    const VmRun run = run_vm(kVfb16, {"18"});
    ASSERT_TRUE(run.ok);
    expect_armv6(run);
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 18, Outcome::kOther));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Armv6, ArmhfBuildStopsWithSigill)
{
    // A build for ARMv7 dies of an illegal instruction before it writes a
    // thing: the shell reports 128 + SIGILL (4), the framebuffer is untouched.
    const std::string armhf = env_or("PIXVANE_KERNEL_ARMHF_BIN", PIXVANE_KERNEL_ARMHF_BIN);
    if (armhf.empty())
        GTEST_SKIP() << "no glibc armhf pixvane given (PIXVANE_KERNEL_ARMHF_BIN)";
    bool present = false;
    read_file(armhf, &present);
    ASSERT_TRUE(present) << armhf << " is missing: build the kernel-armhf preset first";
    const VmRun run = run_vm(kVfb16, {"24"}, armhf);
    ASSERT_TRUE(run.ok);
    expect_armv6(run);
    EXPECT_EQ(run.status, 128 + 4);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, 0);
}

} // namespace
