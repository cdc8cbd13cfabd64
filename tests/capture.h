// SPDX-License-Identifier: MIT
// Captures what the code under test writes on standard output.
#ifndef PIXVANE_CAPTURE_H
#define PIXVANE_CAPTURE_H

#include <string>
#include <vector>

// Sends standard output to a temporary file until capture_stop.
void capture_start();

// Restores standard output; returns what was written since capture_start.
std::string capture_stop();

// Splits text at "\n"; a final line without one is kept too.
std::vector<std::string> capture_lines(const std::string &text);

#endif
