// SPDX-License-Identifier: MIT
// The static pixvane run on real kernel framebuffer drivers, one qemu VM per
// case, through the fbvm runner beside this file. Each case reads what fbvm
// brought back: the tool's output and exit status, the mode before and after,
// and the video memory.
//
// The expected lines are written out here by hand. Only the memory report of
// the "FB" line comes from the VM, because the kernel chooses the address and
// the size: it is taken from the fixed information the runner read before the
// tool ran.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "doc_recipes.h"
#include "vm_run.h"

namespace
{

const std::vector<std::string> kVfb16 = {"--vfb", "vfb_enable=1 mode_option=640x480-16",
                                         "--prefill", "0xff"};
const std::size_t kPixels = std::size_t{640} * 480;

TEST(Vfb, SwitchFrom16To24)
{
    const VmRun run = run_vm(kVfb16, {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(number(run.var_before, "bits_per_pixel"), 16u);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 24 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 24\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    // Both clears cover the screen at the depth found at open: two bytes a pixel.
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Vfb, SameDepthSendsNothing)
{
    const VmRun run = run_vm(kVfb16, {"16"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 16 (16) on FB\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Vfb, DepthRoundedByDriverIsAnError)
{
    // vfb takes 18 and runs at 24.
    const VmRun run = run_vm(kVfb16, {"18"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 18 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 18\n"
                           "QUIL_VO: ERROR switching to bpp: 18\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Vfb, TooLittleVideoMemoryIsRefused)
{
    // 640x480 at 32 bpp needs 1228800 bytes; vfb has 1 MiB and answers ENOMEM.
    const VmRun run =
        run_vm({"--vfb", "vfb_enable=1 videomemorysize=1048576 mode_option=640x480-16", "--prefill",
                "0xff"},
               {"32"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 32 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 32\n"
                           "QUIL_VO: Can't set VSCREENINFO\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Vfb, SwitchUpKeepsTheClearAtTheOldSize)
{
    // Exactly enough memory for 640x480 at 32 bpp.
    const VmRun run =
        run_vm({"--vfb", "vfb_enable=1 videomemorysize=1228800 mode_option=640x480-16", "--prefill",
                "0xff"},
               {"32"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 32 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 32\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 32u);
    expect_same_geometry(run.var_before, run.var);
    // The final clear uses the length of the 16 bpp mode found at open.
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Vfb, StartAt8WithDefaultDepth)
{
    // No argument: the default depth, 24.
    const VmRun run =
        run_vm({"--vfb", "vfb_enable=1 mode_option=640x480-8", "--prefill", "0xff"}, {});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(number(run.var_before, "bits_per_pixel"), 8u);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 24 (8) on FB\n"
                           "QUIL_VO: switching to bpp: 24\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    // One byte a pixel at 8 bpp.
    expect_cleared_prefix(run, kPixels);
}

TEST(Vfb, EmptyFirstArgumentMeansTheDefault)
{
    // "" parses to 0, out of bounds, so 24; the 16 after it is ignored. This
    // also shows that the VM gets the arguments exactly, empty ones included.
    const VmRun run = run_vm(kVfb16, {"", "16"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 24 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 24\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
}

TEST(NoDevice, NoDriverAndNoNode)
{
    const VmRun run = run_vm({"--no-vfb", "--no-node"}, {"24"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, std::string(kBanner) + "QUIL_VO: Can't open /dev/fb/0\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(run.has_var) << "the VM had a framebuffer after all";
}

TEST(NoDevice, DriverWithoutTheDevfsNode)
{
    // The kernel's own /dev/fb0 is there, but not /dev/fb/0: the framebuffer
    // must not be touched.
    const VmRun run = run_vm(
        {"--vfb", "vfb_enable=1 mode_option=640x480-16", "--prefill", "0xff", "--no-node"}, {"24"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, std::string(kBanner) + "QUIL_VO: Can't open /dev/fb/0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, 0);
}

TEST(Drm, VirtioGpuIgnoresALowerDepth)
{
    // virtio-gpu's fbdev emulation runs at 32 bpp only. A lower depth is
    // accepted and rounded back up to 32, so only the read-back sees it.
    const VmRun run = run_vm({"--drm=virtio-gpu", "--prefill", "0xff"}, {"16"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(number(run.var_before, "bits_per_pixel"), 32u);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 16 (32) on FB\n"
                           "QUIL_VO: switching to bpp: 16\n"
                           "QUIL_VO: ERROR switching to bpp: 16\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    const std::size_t pixels = screen_pixels(run.var_before);
    expect_cleared_prefix(run, pixels * 4);
}

TEST(Drm, CirrusRefusesAHigherDepth)
{
    // cirrus's fbdev emulation starts at 16 bpp and cannot go higher: EINVAL.
    const VmRun run = run_vm({"--drm=cirrus", "--prefill", "0xff"}, {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(number(run.var_before, "bits_per_pixel"), 16u);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 24 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 24\n"
                           "QUIL_VO: Can't set VSCREENINFO\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    const std::size_t pixels = screen_pixels(run.var_before);
    expect_cleared_prefix(run, pixels * 2);
}

// busybox mdev with the mdev.conf line the project ships, read from the source
// tree, on a kernel that names the device /dev/fb0. The VM gets the
// /etc/passwd and /etc/group of an image that has a video group: mdev skips a
// line whose user or group it cannot find (it says "unknown user/group" and
// goes on with its defaults), so without them the line would do nothing. The
// setup lists what mdev made, so a changed line shows there first.
const std::string kMdevConf = PIXVANE_MDEV_CONF;

// Runs mdev -s, then reports each of the two names: a link and its target, a
// device node with its numbers (hexadecimal, as stat writes them), owner and
// mode, or "none".
const std::string kMdevScan = R"sh(mkdir -p /etc
echo 'root:x:0:0:root:/root:/bin/sh' >/etc/passwd
printf 'root:x:0:\nvideo:x:44:\n' >/etc/group
[ -e /etc/mdev.conf ] || : >/etc/mdev.conf
mdev -s || echo "mdev -s: status $?"
for f in /dev/fb0 /dev/fb/0; do
    if [ -L "$f" ]; then
        echo "$f -> $(readlink "$f")"
    elif [ -e "$f" ]; then
        stat -c '%n: %F %t:%T %U:%G %a' "$f"
    else
        echo "$f: none"
    fi
done)sh";

std::vector<std::string> mdev_options(bool shipped_line, bool devtmpfs)
{
    std::vector<std::string> options = kVfb16;
    options.insert(options.end(), {"--no-node", "--setup", kMdevScan});
    if (!devtmpfs)
        options.emplace_back("--no-devtmpfs");
    if (shipped_line)
        options.insert(options.end(), {"--file", kMdevConf + "=/etc/mdev.conf"});
    return options;
}

TEST(Mdev, ShippedLineNextToDevtmpfs)
{
    // devtmpfs made /dev/fb0; the line adds /dev/fb/0 and leaves fb0 as it is.
    const VmRun run = run_vm(mdev_options(true, true), {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(run.setup_out, "/dev/fb0: character special file 1d:0 root:root 600\n"
                             "/dev/fb/0: character special file 1d:0 root:video 660\n");
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 24 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 24\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Mdev, ShippedLineOnABareDev)
{
    // mdev alone makes the nodes: /dev/fb/0, and /dev/fb0 as a link to it.
    const VmRun run = run_vm(mdev_options(true, false), {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(run.setup_out, "/dev/fb0 -> fb/0\n"
                             "/dev/fb/0: character special file 1d:0 root:video 660\n");
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 24 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 24\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Mdev, WithoutTheLineThereIsNoDevfsName)
{
    // An mdev.conf without the line: mdev makes the kernel's name only.
    const VmRun run = run_vm(mdev_options(false, false), {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(run.setup_out, "/dev/fb0: character special file 1d:0 root:root 660\n"
                             "/dev/fb/0: none\n");
    EXPECT_EQ(run.out, std::string(kBanner) + "QUIL_VO: Can't open /dev/fb/0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, 0);
}

// README's scripts, run in the VM as README writes them: "recipe" blocks are
// what a boot script does with the tool's output, "board" blocks what a board
// needs before the tool can run.
const std::string kReadme = PIXVANE_README;

// The README block called name, of the given kind, written to a file of the
// current test's own; returns the fbvm --file argument that puts it at dst.
std::string readme_block(const std::string &kind, const std::string &name, const std::string &dst)
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string path = env_or("PIXVANE_KERNEL_RUNS", PIXVANE_KERNEL_RUNS) + "/" +
                             info->test_suite_name() + "." + info->name() + "." + name + ".sh";
    bool found = false;
    for (const DocRecipe &r : doc_recipes(kReadme, kind)) {
        if (r.name == name) {
            std::ofstream(path) << r.text;
            found = true;
        }
    }
    if (!found)
        ADD_FAILURE() << "README.md has no " << kind << " called " << name;
    std::string option = path;
    option += "=";
    option += dst;
    return option;
}

// The tool by its name, as a board's scripts call it.
const char kOnPath[] = "ln -s /fbvm/bin /bin/pixvane\n";

TEST(Readme, RecipesSeeTheSwitchUnderSetE)
{
    // From 24 to 16: the first recipe switches, the second finds 16 already.
    std::vector<std::string> options = {"--vfb", "vfb_enable=1 mode_option=640x480-24"};
    std::string setup = kOnPath;
    for (const DocRecipe &r : doc_recipes(kReadme)) {
        options.insert(options.end(), {"--file", readme_block("recipe", r.name, "/r/" + r.name)});
        setup += "sh -e /r/" + r.name + " || echo \"" + r.name + ": status $?\"\n";
    }
    setup += "cat /sys/class/graphics/fb0/bits_per_pixel\n";
    options.insert(options.end(), {"--setup", setup});
    const VmRun run = run_vm(options, {"16"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.setup_out, "framebuffer at 16 bpp\nframebuffer at 16 bpp\n16\n");
}

TEST(Readme, DevtmpfsFallbackMakesTheDevfsName)
{
    const VmRun run = run_vm({"--vfb", "vfb_enable=1 mode_option=640x480-16", "--no-node", "--file",
                              readme_block("board", "devtmpfs", "/r/devtmpfs"), "--setup",
                              "sh -e /r/devtmpfs && readlink /dev/fb/0"},
                             {"24"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.setup_out, "../fb0\n");
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 24 (16) on FB\n"
                           "QUIL_VO: switching to bpp: 24\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
}

TEST(Readme, PanelOnAnotherFramebufferThroughAMountNamespace)
{
    // cirrus's emulation is fb0, at 16 bpp; vfb, loaded after it, is fb1 at
    // 24. The namespace's pixvane must reach fb1 and leave fb0 alone, and
    // outside it /dev/fb/0 is still fb0.
    const std::string setup = std::string(kOnPath) + R"sh(while read -r m; do
    if [ "$m" = vfb.ko ]; then
        insmod /lib/modules/vfb.ko vfb_enable=1 mode_option=640x480-24
    else
        insmod "/lib/modules/$m" 2>/dev/null
    fi
done </lib/modules/vfb.order
sh -e /r/other-fb
for fb in fb0 fb1; do
    echo "$fb $(cat /sys/class/graphics/$fb/name) $(cat /sys/class/graphics/$fb/bits_per_pixel)"
done)sh";
    const VmRun run = run_vm({"--drm=cirrus", "--file",
                              readme_block("board", "other-fb", "/r/other-fb"), "--setup", setup},
                             {"16"});
    ASSERT_TRUE(run.ok);
    EXPECT_NE(run.setup_out.find("QUIL_VO: set new bpp 16 (24) on FB\n"
                                 "QUIL_VO: switching to bpp: 16\n"
                                 "QUIL_VO: seted bpp on FB\n"),
              std::string::npos)
        << run.setup_out;
    const std::string tail = "fb0 cirrusdrmfb 16\nfb1 Virtual FB 16\n";
    ASSERT_GE(run.setup_out.size(), tail.size());
    EXPECT_EQ(run.setup_out.substr(run.setup_out.size() - tail.size()), tail) << run.setup_out;
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 16 (16) on FB\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
}

TEST(Readme, CirrusTakesItsModeFromTheVideoOption)
{
    const VmRun run = run_vm({"--drm=cirrus", "--kernel-args", "video=VGA-1:640x480-16", "--setup",
                              "ls /sys/class/drm | grep -x card0-VGA-1"},
                             {"16"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.setup_out, "card0-VGA-1\n");
    EXPECT_EQ(number(run.var_before, "xres"), 640u);
    EXPECT_EQ(number(run.var_before, "yres"), 480u);
    EXPECT_EQ(number(run.var_before, "bits_per_pixel"), 16u);
    EXPECT_EQ(run.out, kBanner + fb_line(run.fix_before) +
                           "QUIL_VO: set new bpp 16 (16) on FB\n"
                           "QUIL_VO: seted bpp on FB\n"
                           "QUIL_VO: All uninit\n");
}

TEST(Readme, VirtioGpuSetsUpNoFramebufferAt16Bits)
{
    const VmRun run = run_vm({"--drm=virtio-gpu", "--kernel-args", "video=Virtual-1:640x480-16",
                              "--setup", "ls /sys/class/drm | grep -x card0-Virtual-1"},
                             {"16"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.setup_out, "card0-Virtual-1\n");
    EXPECT_FALSE(run.has_var) << "the driver set up a framebuffer after all";
    EXPECT_EQ(run.out, std::string(kBanner) + "QUIL_VO: Can't open /dev/fb/0\n");
}

TEST(Readme, ShellOpenTellsTheReasonsForCantOpenApart)
{
    // The man page's way to tell the causes of "Can't open" apart: ls says
    // when there is no node (a shell's <> would create a file there), and the
    // shell, opening the node read-write as the tool does, says why it cannot.
    const std::string setup =
        R"sh(check='ls -lL /dev/fb/0 >/dev/null && sh -c ": <>/dev/fb/0" && echo opened'
try() { sh -c "$check" 2>&1; }
try
mkdir -p /etc
printf 'root:x:0:0::/:/bin/sh\nuser:x:1000:1000::/:/bin/sh\n' >/etc/passwd
printf 'root:x:0:\nuser:x:1000:\n' >/etc/group
chmod 600 /dev/fb/0
su -s /bin/sh user -c "$check" 2>&1
rm /dev/fb/0
mknod /dev/fb/0 c 29 7
try
rm /dev/fb/0
try)sh";
    const VmRun run =
        run_vm({"--vfb", "vfb_enable=1 mode_option=640x480-16", "--setup", setup}, {"16"});
    ASSERT_TRUE(run.ok);
    std::istringstream lines(run.setup_out);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);)
        got.push_back(line);
    ASSERT_EQ(got.size(), 4U) << run.setup_out;
    EXPECT_EQ(got[0], "opened");
    const std::vector<std::string> reasons = {"Permission denied", "No such device",
                                              "No such file or directory"};
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        const std::string &line = got[i + 1];
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), reasons[i].size())), reasons[i])
            << line;
    }
}

} // namespace
