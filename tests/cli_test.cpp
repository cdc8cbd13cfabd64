// SPDX-License-Identifier: MIT
// The built pixvane run as a user runs it, on a machine without a framebuffer.
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "doc_recipes.h"

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

// Runs cmd with stdout and stderr on files of their own; stdin is closed
// when close_stdin is set.
ToolRun run_command(std::vector<std::string> cmd, bool close_stdin)
{
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

ToolRun run_tool(const std::vector<std::string> &args, bool close_stdin)
{
    return run_command(command(args), close_stdin);
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

// A directory whose "pixvane" runs the tool under test, for recipes that call
// it by name from PATH.
class DocumentedRecipe : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/pixvane-recipe.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::string exec_line = "exec";
        for (const std::string &word : command({}))
            exec_line += " '" + word + "'";
        write(dir_ + "/pixvane", "#!/bin/sh\n" + exec_line + " \"$@\"\n");
        ASSERT_EQ(chmod((dir_ + "/pixvane").c_str(), 0755), 0);
    }

    void TearDown() override
    {
        for (const char *f : {"/pixvane", "/recipe"})
            (void)unlink((dir_ + f).c_str());
        (void)rmdir(dir_.c_str());
    }

    static void write(const std::string &path, const std::string &text)
    {
        FILE *f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr) << path;
        EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
        EXPECT_EQ(std::fclose(f), 0);
    }

    std::string dir_;
};

// Without a framebuffer the tool exits 1, as it does after a switch: a recipe
// that lets set -e or pipefail see that status stops the script here. Each
// recipe is run as README and the manual page write it, by a POSIX shell under
// set -e and by bash under set -e and pipefail; it must run to its end and
// report the failure on stderr only.
TEST_F(DocumentedRecipe, RunsToItsEndUnderSetEAndPipefail)
{
    struct stat st {
    };
    if (stat("/dev/fb/0", &st) == 0)
        GTEST_SKIP() << "this machine has /dev/fb/0; the tool would change its mode";

    std::vector<DocRecipe> recipes;
    for (const char *doc : {PIXVANE_README, PIXVANE_MAN_PAGE}) {
        const std::vector<DocRecipe> found = doc_recipes(doc);
        ASSERT_GE(found.size(), 2U) << doc << " holds no recipes";
        for (DocRecipe r : found) {
            r.name = std::string(doc) + ": " + r.name;
            recipes.push_back(r);
        }
    }
    const std::vector<std::vector<std::string>> shells = {{"sh", "-e"},
                                                          {"bash", "-e", "-o", "pipefail"}};
    for (const DocRecipe &recipe : recipes) {
        write(dir_ + "/recipe", "PATH='" + dir_ + "':$PATH\n" + recipe.text + "echo finished\n");
        for (std::vector<std::string> shell : shells) {
            SCOPED_TRACE(recipe.name + " under " + shell[0]);
            shell.push_back(dir_ + "/recipe");
            const ToolRun run = run_command(shell, false);
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, "finished\n");
        }
    }
}
