// SPDX-License-Identifier: MIT
// The static pixvane run on real kernel framebuffer drivers, one qemu VM per
// case, through the fbvm runner beside this file. Each case reads what fbvm
// brought back: the tool's output and exit status, the mode before and after,
// and the video memory.
//
// The expected lines are written out by hand: here, and for a run that opens
// the framebuffer in run_lines (vm_run.cpp), as the board tests do. Only the
// memory report of the "FB" line comes from the VM, because the kernel chooses
// the address and the size: it is taken from the fixed information the runner
// read before the tool ran.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "doc_recipes.h"
#include "vm_run.h"

namespace
{

const std::vector<std::string> kVfb16 = {"--vfb", "vfb_enable=1 mode_option=640x480-16",
                                         "--prefill", "0xff"};
const std::size_t kPixels = std::size_t{640} * 480;
// All the tool prints when /dev/fb/0 does not open.
const std::string kCantOpen = std::string(kBanner) + "QUIL_VO: Can't open /dev/fb/0\n";

TEST(Vfb, SwitchFrom16To24)
{
    const VmRun run = run_vm(kVfb16, {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(number(run.var_before, "bits_per_pixel"), 16u);
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 24, Outcome::kSet));
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 16, Outcome::kSame));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Vfb, DepthRoundedByDriverIsAnError)
{
    // vfb takes 18 and runs at 24.
    const VmRun run = run_vm(kVfb16, {"18"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 18, Outcome::kOther));
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 32, Outcome::kRefused));
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 32, Outcome::kSet));
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 8, 24, Outcome::kSet));
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 24, Outcome::kSet));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
}

TEST(NoDevice, NoDriverAndNoNode)
{
    const VmRun run = run_vm({"--no-vfb", "--no-node"}, {"24"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.out, kCantOpen);
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
    EXPECT_EQ(run.out, kCantOpen);
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 32, 16, Outcome::kOther));
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 24, Outcome::kRefused));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    const std::size_t pixels = screen_pixels(run.var_before);
    expect_cleared_prefix(run, pixels * 2);
}

// busybox mdev with the mdev.conf lines the project ships, read from the source
// tree, on a kernel that names the device /dev/fb0. The VM gets the
// /etc/passwd and /etc/group of an image that has a video group: mdev skips a
// line whose user or group it cannot find (it says "unknown user/group" and
// goes on with its defaults), so without them the line would do nothing. The
// setup lists what mdev made, so a changed line shows there first.
const std::string kMdevConf = PIXVANE_MDEV_CONF;

// Runs mdev -s, then reports each of the two names: a link, its target and
// the owner and mode of the node it leads to; a device node with its numbers
// (hexadecimal, as stat writes them), owner and mode; or "none".
const std::string kMdevScan = R"sh(mkdir -p /etc
echo 'root:x:0:0:root:/root:/bin/sh' >/etc/passwd
printf 'root:x:0:\nvideo:x:44:\n' >/etc/group
[ -e /etc/mdev.conf ] || : >/etc/mdev.conf
mdev -s || echo "mdev -s: status $?"
for f in /dev/fb0 /dev/fb/0; do
    if [ -L "$f" ]; then
        echo "$f -> $(readlink "$f"): $(stat -L -c '%U:%G %a' "$f")"
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

TEST(Mdev, ShippedLinesGiveTheDevtmpfsNodeTheVideoGroup)
{
    // devtmpfs made /dev/fb0, root:root 0600; the lines add /dev/fb/0 and give
    // fb0 the same owner, group and mode, so that the video group keeps it.
    const VmRun run = run_vm(mdev_options(true, true), {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(run.setup_out, "/dev/fb0: character special file 1d:0 root:video 660\n"
                             "/dev/fb/0: character special file 1d:0 root:video 660\n");
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 24, Outcome::kSet));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
    expect_same_geometry(run.var_before, run.var);
    expect_cleared_prefix(run, kPixels * 2);
}

TEST(Mdev, ShippedLinesOnABareDevLinkTheKernelName)
{
    // mdev alone makes the nodes: /dev/fb/0, and /dev/fb0 as a link to it.
    // The second line must not hand the node to another owner through the link.
    const VmRun run = run_vm(mdev_options(true, false), {"24"});
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(run.setup_out, "/dev/fb0 -> fb/0: root:video 660\n"
                             "/dev/fb/0: character special file 1d:0 root:video 660\n");
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 24, Outcome::kSet));
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
    EXPECT_EQ(run.out, kCantOpen);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.var, run.var_before);
    expect_cleared_prefix(run, 0);
}

// The documents' scripts, run in the VM as README and the manual page write
// them: "recipe" blocks are what a boot script does with the tool's output,
// "board" blocks what a board needs before the tool can run, "look" blocks
// what tells a failure's causes apart.
const std::string kReadme = PIXVANE_README;
const std::string kManPage = PIXVANE_MAN_PAGE;

// The block called name, of the given kind, in the document at doc, written
// to a file of the current test's own; returns the fbvm --file argument that
// puts it at dst.
std::string doc_block(const std::string &doc, const std::string &kind, const std::string &name,
                      const std::string &dst)
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string path = env_or("PIXVANE_KERNEL_RUNS", PIXVANE_KERNEL_RUNS) + "/" +
                             info->test_suite_name() + "." + info->name() + "." + name +
                             (doc == kManPage ? ".man" : ".readme") + ".sh";
    bool found = false;
    for (const DocRecipe &r : doc_recipes(doc, kind)) {
        if (r.name == name) {
            std::ofstream(path) << r.text;
            found = true;
        }
    }
    if (!found)
        ADD_FAILURE() << doc << " has no " << kind << " called " << name;
    std::string option = path;
    option += "=";
    option += dst;
    return option;
}

std::string readme_block(const std::string &kind, const std::string &name, const std::string &dst)
{
    return doc_block(kReadme, kind, name, dst);
}

// The lines of a setup's output.
std::vector<std::string> lines_of(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
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

// Both documents' devtmpfs lines, each run twice under sh -e: a second run
// (a second boot script, a restart) must not fail on the name the first
// made, also while the driver is not there and the link leads nowhere.
const char kDevtmpfsTwice[] = R"sh(for doc in readme man; do
    rm -rf /dev/fb
    sh -e /r/devtmpfs.$doc && sh -e /r/devtmpfs.$doc || echo "$doc: status $?"
    if [ -e /dev/fb/0 ]; then
        echo "$doc: $(readlink /dev/fb/0) $(stat -L -c '%u:%g %a' /dev/fb/0)"
    else
        echo "$doc: $(readlink /dev/fb/0), nothing behind it"
    fi
done)sh";

struct DevtmpfsCase {
    const char *what;
    std::vector<std::string> driver;
    std::string setup_out; // the names as both documents' lines leave them
    bool opens;            // pixvane reaches the framebuffer afterwards
};

TEST(Readme, DevtmpfsFallbackMakesTheDevfsNameAndRunsAgain)
{
    const std::vector<DevtmpfsCase> cases = {
        {"with the driver",
         {"--vfb", "vfb_enable=1 mode_option=640x480-16"},
         // devtmpfs makes the node root:root (0:0; the VM has no /etc/passwd) 0600.
         "readme: ../fb0 0:0 600\nman: ../fb0 0:0 600\n",
         true},
        {"before the driver",
         {"--no-vfb"},
         "readme: ../fb0, nothing behind it\nman: ../fb0, nothing behind it\n",
         false},
    };
    for (const DevtmpfsCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> options = c.driver;
        options.insert(options.end(),
                       {"--no-node", "--file",
                        doc_block(kReadme, "board", "devtmpfs", "/r/devtmpfs.readme"), "--file",
                        doc_block(kManPage, "board", "devtmpfs", "/r/devtmpfs.man"), "--setup",
                        kDevtmpfsTwice});
        const VmRun run = run_vm(options, {"24"});
        ASSERT_TRUE(run.ok);
        EXPECT_EQ(run.setup_out, c.setup_out);
        if (c.opens) {
            EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 24, Outcome::kSet));
            EXPECT_EQ(number(run.var, "bits_per_pixel"), 24u);
        } else {
            EXPECT_EQ(run.out, kCantOpen);
        }
    }
}

TEST(Readme, PanelOnAnotherFramebufferThroughAMountNamespace)
{
    // cirrus's emulation is fb0, at 16 bpp; vfb, loaded after it, is fb1 at
    // 24. The namespace's pixvane must reach fb1 and leave fb0 alone, and
    // outside it /dev/fb/0 is still fb0. Both documents' lines, each in a VM
    // of its own.
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
    for (const std::string &doc : {kReadme, kManPage}) {
        SCOPED_TRACE(doc);
        const VmRun run =
            run_vm({"--drm=cirrus", "--file", doc_block(doc, "board", "other-fb", "/r/other-fb"),
                    "--setup", setup},
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
        EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 16, Outcome::kSame));
    }
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
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 16, Outcome::kSame));
}

TEST(Readme, VirtioGpuSetsUpNoFramebufferAt16Bits)
{
    const VmRun run = run_vm({"--drm=virtio-gpu", "--kernel-args", "video=Virtual-1:640x480-16",
                              "--setup", "ls /sys/class/drm | grep -x card0-Virtual-1"},
                             {"16"});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.setup_out, "card0-Virtual-1\n");
    EXPECT_FALSE(run.has_var) << "the driver set up a framebuffer after all";
    EXPECT_EQ(run.out, kCantOpen);
}

// The exit status of a program run with these arguments, its output going
// to the test's own; -1 when it could not run or did not exit.
int exit_status(std::vector<std::string> cmd)
{
    std::vector<char *> argv;
    argv.reserve(cmd.size() + 1);
    for (std::string &a : cmd)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus))
        return -1;
    return WEXITSTATUS(wstatus);
}

// busybox's fbset, which the documents tell from a pure look: the kernel's
// trace of the framebuffer ioctls each way of calling it makes. Debian's
// busybox-static in the VM has no fbset, so busybox-fbset builds one from
// Debian's busybox source (x86_64 only; once built, it is reused).
const char kFbsetTrace[] = R"sh(ln -s /r/busybox-fbset /bin/fbset
t=/sys/kernel/tracing
mount -t tracefs tracefs $t
echo 'cmd >= 0x4600 && cmd <= 0x4611' >$t/events/syscalls/sys_enter_ioctl/filter
echo 1 >$t/events/syscalls/sys_enter_ioctl/enable
for args in "" -s -i; do
    echo >$t/trace
    out=$(fbset $args) || echo "fbset $args: status $?"
    calls=$(sed -n 's/.*sys_ioctl(fd: [0-9a-f]*, cmd: \([0-9a-f]*\),.*/\1/p' $t/trace)
    echo "fbset${args:+ $args}:" $(printf '%s\n' "$out" | grep -c geometry) "modes printed;" $calls
done
cat /sys/class/graphics/fb0/bits_per_pixel)sh";

TEST(Readme, BusyboxFbsetReadsWithoutAnOptionAndWritesTheModeBackWithI)
{
    if (std::string(PIXVANE_KERNEL_ARCH) != "x86_64")
        GTEST_SKIP() << "busybox's fbset is built for the x86_64 VM only";
    const std::string fbset = PIXVANE_BUSYBOX_FBSET;
    ASSERT_EQ(exit_status({PIXVANE_BUSYBOX_FBSET_SCRIPT, fbset}), 0)
        << "could not build busybox's fbset";
    const VmRun run = run_vm({"--vfb", "vfb_enable=1 mode_option=640x480-16", "--file",
                              fbset + "=/r/busybox-fbset", "--setup", kFbsetTrace},
                             {"16"});
    ASSERT_TRUE(run.ok);
    // 4600 is FBIOGET_VSCREENINFO, 4601 FBIOPUT_VSCREENINFO: -i prints nothing
    // and puts back the mode it read, which leaves vfb at 16 bits.
    EXPECT_EQ(run.setup_out, "fbset: 1 modes printed; 4600\n"
                             "fbset -s: 1 modes printed; 4600\n"
                             "fbset -i: 0 modes printed; 4600 4601\n"
                             "16\n");
}

// Both documents' check for the causes of "Can't open", run as written on
// every state of /dev/fb/0 it is meant for. A shell's <> creates a missing
// file, so each state is also checked for anything the check made: a regular
// fb/0 in an empty fb/ directory, or a regular fb0 through a link that leads
// nowhere (what the devtmpfs lines leave before the driver comes up).
const char kCantOpenStates[] = R"sh(mkdir -p /etc
printf 'root:x:0:0::/:/bin/sh\nuser:x:1000:1000::/:/bin/sh\n' >/etc/passwd
printf 'root:x:0:\nuser:x:1000:\n' >/etc/group
IFS=: read -r major minor </sys/class/graphics/fb0/dev
try() { # DOC STATE [su]: the check's last line, and what it left behind
    if [ "$3" = su ]; then
        out=$(su -s /bin/sh user -c "sh /r/cant-open.$1" 2>&1 && echo opened)
    else
        out=$(sh "/r/cant-open.$1" 2>&1 && echo opened)
    fi
    echo "$1 $2: $(printf '%s\n' "$out" | tail -n 1)"
    if [ -f /dev/fb/0 ] || [ -f /dev/fb0 ]; then echo "$1 $2: made a file"; fi
}
for doc in readme man; do
    rm -rf /dev/fb && mkdir /dev/fb
    mknod -m 600 /dev/fb/0 c "$major" "$minor"
    try $doc framebuffer
    try $doc "framebuffer, not root" su
    rm /dev/fb/0 && mknod /dev/fb/0 c 29 7
    try $doc "no driver"
    rm /dev/fb/0
    try $doc "no node"
    mv /dev/fb0 /dev/fb0.away && ln -s ../fb0 /dev/fb/0
    try $doc "link to nothing"
    rm -f /dev/fb0 && mv /dev/fb0.away /dev/fb0
done)sh";

TEST(Readme, ShellOpenTellsTheReasonsForCantOpenApartAndCreatesNothing)
{
    const VmRun run = run_vm(
        {"--vfb", "vfb_enable=1 mode_option=640x480-16", "--file",
         doc_block(kReadme, "look", "cant-open", "/r/cant-open.readme"), "--file",
         doc_block(kManPage, "look", "cant-open", "/r/cant-open.man"), "--setup", kCantOpenStates},
        {"16"});
    ASSERT_TRUE(run.ok);
    // Each state's line ends in what the check says: the shell's reason when
    // it tried to open, ls's when there was nothing to open.
    std::vector<std::pair<std::string, std::string>> want;
    for (const std::string doc : {"readme", "man"}) {
        want.emplace_back(doc + " framebuffer: ", "opened");
        want.emplace_back(doc + " framebuffer, not root: ", "Permission denied");
        want.emplace_back(doc + " no driver: ", "No such device");
        want.emplace_back(doc + " no node: ", "No such file or directory");
        want.emplace_back(doc + " link to nothing: ", "No such file or directory");
    }
    const std::vector<std::string> got = lines_of(run.setup_out);
    ASSERT_EQ(got.size(), want.size()) << run.setup_out;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::string &line = got[i];
        EXPECT_EQ(line.rfind(want[i].first, 0), 0U) << line;
        EXPECT_GE(line.size(), want[i].second.size()) << line;
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), want[i].second.size())),
                  want[i].second)
            << line;
    }
    // The framebuffer was back in place for the run itself.
    EXPECT_EQ(run.out, run_lines(run.fix_before, 16, 16, Outcome::kSame));
}

} // namespace
