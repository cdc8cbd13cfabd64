// SPDX-License-Identifier: MIT
// The built pixvane run as a user runs it, on a machine without a framebuffer.
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

struct ToolRun {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when the process did not exit
};

std::string slurp(int fd)
{
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

// The command to run: PIXVANE_RUN_PREFIX (an emulator or a checker, words
// split at spaces), then PIXVANE_BIN or else the pixvane of this build, then
// args.
std::vector<std::string> command(const std::vector<std::string> &args)
{
    std::vector<std::string> cmd;
    if (const char *prefix = std::getenv("PIXVANE_RUN_PREFIX")) {
        std::istringstream words(prefix);
        for (std::string w; words >> w;)
            cmd.push_back(w);
    }
    const char *bin = std::getenv("PIXVANE_BIN");
    cmd.emplace_back(bin != nullptr ? bin : PIXVANE_BUILT_BIN);
    cmd.insert(cmd.end(), args.begin(), args.end());
    return cmd;
}

// Runs the tool with stdout and stderr on files of their own; stdin is
// closed when close_stdin is set.
ToolRun run_tool(const std::vector<std::string> &args, bool close_stdin)
{
    std::vector<std::string> cmd = command(args);
    std::vector<char *> argv;
    argv.reserve(cmd.size() + 1);
    for (std::string &a : cmd)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    FILE *out = std::tmpfile();
    FILE *err = std::tmpfile();
    if (out == nullptr || err == nullptr)
        return {};

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        if (close_stdin)
            close(STDIN_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }

    ToolRun run;
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        run.status = WEXITSTATUS(wstatus);
    lseek(fileno(out), 0, SEEK_SET);
    lseek(fileno(err), 0, SEEK_SET);
    run.out = slurp(fileno(out));
    run.err = slurp(fileno(err));
    (void)std::fclose(out);
    (void)std::fclose(err);
    return run;
}

struct CliRow {
    const char *name;
    std::vector<std::string> args;
    bool close_stdin;
};

void PrintTo(const CliRow &row, std::ostream *os)
{
    *os << row.name;
}

class CliWithoutFramebuffer : public ::testing::TestWithParam<CliRow>
{
};

TEST_P(CliWithoutFramebuffer, PrintsBannerAndOpenFailureOnStdoutOnlyAndExitsOne)
{
    struct stat st {
    };
    if (stat("/dev/fb/0", &st) == 0)
        GTEST_SKIP() << "this machine has /dev/fb/0; the tool would change its mode";

    const CliRow &row = GetParam();
    const ToolRun run = run_tool(row.args, row.close_stdin);
    EXPECT_EQ(run.out, "Pixvane by Qor-EN\n\nQUIL_VO: Can't open /dev/fb/0\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Table, CliWithoutFramebuffer,
                         ::testing::Values(CliRow{"NoArgument", {}, false},
                                           CliRow{"Depth", {"16"}, false},
                                           CliRow{"NotANumber", {"deep"}, false},
                                           CliRow{"ExtraArguments", {"16", "32", "8"}, false},
                                           CliRow{"StdinClosed", {"16"}, true}),
                         [](const auto &p) { return std::string(p.param.name); });

} // namespace
