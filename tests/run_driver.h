// SPDX-License-Identifier: MIT
// Runs the whole command-line driver in process, with its output captured.
#ifndef PIXVANE_RUN_DRIVER_H
#define PIXVANE_RUN_DRIVER_H

#include <string>
#include <vector>

// Runs the driver as "pixvane args..."; returns its exit status, with the
// lines it wrote in lines.
int run_driver(std::vector<std::string> args, std::vector<std::string> &lines);

#endif
