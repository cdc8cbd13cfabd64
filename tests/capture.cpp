// SPDX-License-Identifier: MIT
// Standard-output capture through a temporary file and dup2.
#include "capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace
{

std::FILE *capture_file;
int saved_stdout = -1;

} // namespace

void capture_start()
{
    (void)std::fflush(stdout);
    capture_file = std::tmpfile();
    saved_stdout = dup(STDOUT_FILENO);
    if (capture_file == nullptr || saved_stdout == -1 ||
        dup2(fileno(capture_file), STDOUT_FILENO) == -1)
        std::abort();
}

std::string capture_stop()
{
    (void)std::fflush(stdout);
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);
    saved_stdout = -1;

    std::string text;
    std::rewind(capture_file);
    for (int ch = std::fgetc(capture_file); ch != EOF; ch = std::fgetc(capture_file))
        text.push_back(static_cast<char>(ch));
    (void)std::fclose(capture_file);
    capture_file = nullptr;
    return text;
}

std::vector<std::string> capture_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string line;
    for (const char ch : text) {
        if (ch == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(ch);
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}
