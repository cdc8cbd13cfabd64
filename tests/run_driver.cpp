// SPDX-License-Identifier: MIT
// The driver run as main would run it, on whatever device the fake is set up as.
#include "run_driver.h"

#include "capture.h"
#include "driver.h"

int run_driver(std::vector<std::string> args, std::vector<std::string> &lines)
{
    args.insert(args.begin(), "pixvane");
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    capture_start();
    const int status = pixvane_main(static_cast<int>(args.size()), argv.data());
    lines = capture_lines(capture_stop());
    return status;
}
