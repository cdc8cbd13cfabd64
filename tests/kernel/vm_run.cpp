// SPDX-License-Identifier: MIT
// One fbvm run as the kernel tests see it, and the checks they share.
#include "vm_run.h"

#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

std::string env_or(const char *name, const char *fallback)
{
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : fallback;
}

// Empty when the file is missing; present tells the two apart.
std::string read_file(const std::string &path, bool *present)
{
    std::ifstream in(path, std::ios::binary);
    if (present != nullptr)
        *present = in.good();
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Fields parse_fields(const std::string &text)
{
    Fields fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

unsigned long long number(const Fields &fields, const std::string &key)
{
    const auto it = fields.find(key);
    if (it == fields.end()) {
        ADD_FAILURE() << "no field " << key;
        return 0;
    }
    return std::strtoull(it->second.c_str(), nullptr, 0);
}

// Runs the tool in a VM: fbvm run OPTIONS -- ARGS, into a directory of the
// current test's own, so that cases can run side by side.
VmRun run_vm(const std::vector<std::string> &options, const std::vector<std::string> &args,
             const std::string &bin)
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    VmRun run;
    run.dir = env_or("PIXVANE_KERNEL_RUNS", PIXVANE_KERNEL_RUNS) + "/" + info->test_suite_name() +
              "." + info->name();

    std::vector<std::string> cmd = {env_or("PIXVANE_FBVM", PIXVANE_FBVM), "run"};
    // qemu's generic board for the architecture, or a real board, which has
    // an architecture of its own.
    const std::string board = env_or("PIXVANE_KERNEL_BOARD", PIXVANE_KERNEL_BOARD);
    if (board == "virt")
        cmd.insert(cmd.end(), {"--arch", env_or("PIXVANE_KERNEL_ARCH", PIXVANE_KERNEL_ARCH)});
    else
        cmd.insert(cmd.end(), {"--board", board});
    cmd.insert(cmd.end(), {"--bin", bin.empty() ? env_or("PIXVANE_BIN", PIXVANE_BUILT_BIN) : bin,
                           "--out", run.dir});
    cmd.insert(cmd.end(), options.begin(), options.end());
    cmd.emplace_back("--");
    cmd.insert(cmd.end(), args.begin(), args.end());
    std::vector<char *> argv;
    argv.reserve(cmd.size() + 1);
    for (std::string &a : cmd)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string log_path = run.dir + ".runner.log";
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
        ADD_FAILURE() << "could not start " << cmd[0];
        return run;
    }
    if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) {
        ADD_FAILURE() << "fbvm run failed:\n" << read_file(log_path);
        return run;
    }

    bool present = false;
    run.out = read_file(run.dir + "/stdout", &present);
    run.err = read_file(run.dir + "/stderr");
    const std::string status = read_file(run.dir + "/status");
    run.status = status.empty() ? -1 : static_cast<int>(std::strtol(status.c_str(), nullptr, 10));
    run.var_before = parse_fields(read_file(run.dir + "/var.before"));
    run.var = parse_fields(read_file(run.dir + "/var", &run.has_var));
    run.fix_before = parse_fields(read_file(run.dir + "/fix.before"));
    run.fix = parse_fields(read_file(run.dir + "/fix"));
    run.mem = read_file(run.dir + "/mem");
    run.setup_out = read_file(run.dir + "/setup.out");
    run.ok = present && !status.empty();
    if (!run.ok)
        ADD_FAILURE() << "no results in " << run.dir << "\n" << read_file(run.dir + "/vm.log");
    return run;
}

// The "FB" line as printf's %u and %p write it: 0x and lower-case hex, or for a
// null pointer (DRM hides its address) the C library's own spelling: glibc's
// "(nil)", musl's "0".
std::string fb_line(const Fields &fix)
{
    const unsigned long long start = number(fix, "smem_start");
    std::ostringstream line;
    line << "QUIL_VO: FB " << number(fix, "smem_len") << "@";
    if (start == 0)
        line << PIXVANE_NULL_POINTER;
    else
        line << "0x" << std::hex << start;
    line << "\n";
    return line.str();
}

std::string run_lines(const Fields &fix, int from, int want, Outcome outcome)
{
    const std::string depth = std::to_string(want);
    std::string out = kBanner + fb_line(fix) + "QUIL_VO: set new bpp " + depth + " (" +
                      std::to_string(from) + ") on FB\n";
    switch (outcome) {
    case Outcome::kSame:
        out += "QUIL_VO: seted bpp on FB\n";
        break;
    case Outcome::kSet:
        out += "QUIL_VO: switching to bpp: " + depth + "\nQUIL_VO: seted bpp on FB\n";
        break;
    case Outcome::kRefused:
        out += "QUIL_VO: switching to bpp: " + depth + "\nQUIL_VO: Can't set VSCREENINFO\n";
        break;
    case Outcome::kOther:
        out += "QUIL_VO: switching to bpp: " + depth +
               "\nQUIL_VO: ERROR switching to bpp: " + depth + "\n";
        break;
    }
    return out + "QUIL_VO: All uninit\n";
}

// Index of the first byte in [from, to) of mem that is not value, or -1.
long first_other(const std::string &mem, std::size_t from, std::size_t to, unsigned char value)
{
    for (std::size_t i = from; i < to && i < mem.size(); ++i) {
        if (static_cast<unsigned char>(mem[i]) != value)
            return static_cast<long>(i);
    }
    return -1;
}

// Video memory after a run that prefilled it with 0xff: the first `cleared`
// bytes are zero, and every byte after them is still 0xff.
void expect_cleared_prefix(const VmRun &run, std::size_t cleared)
{
    ASSERT_EQ(run.mem.size(), number(run.fix_before, "smem_len"));
    ASSERT_LE(cleared, run.mem.size());
    EXPECT_EQ(first_other(run.mem, 0, cleared, 0x00), -1) << "a byte the tool should clear";
    EXPECT_EQ(first_other(run.mem, cleared, run.mem.size(), 0xff), -1)
        << "a byte past the visible screen was touched";
}

// The fields of the mode other than the depth and the colour layout, which
// follows the depth in the driver: the tool must send them back as it read
// them, and the driver keeps what it is sent.
void expect_same_geometry(const Fields &before, const Fields &after)
{
    for (const auto &field : before) {
        const std::string &key = field.first;
        if (key == "bits_per_pixel" || key.rfind("red.", 0) == 0 || key.rfind("green.", 0) == 0 ||
            key.rfind("blue.", 0) == 0 || key.rfind("transp.", 0) == 0)
            continue;
        const auto it = after.find(key);
        ASSERT_NE(it, after.end()) << key;
        EXPECT_EQ(it->second, field.second) << key;
    }
}

// The visible pixels of a mode. The product is narrowed here, once: size_t is
// 32 bits on armhf, and no screen comes near that.
std::size_t screen_pixels(const Fields &var)
{
    return static_cast<std::size_t>(number(var, "xres") * number(var, "yres"));
}
