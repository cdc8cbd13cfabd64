// SPDX-License-Identifier: MIT
// The command-line front end, callable without a process of its own.
#ifndef PIXVANE_DRIVER_H
#define PIXVANE_DRIVER_H

// Runs the whole tool once. Returns the exit status, which is always 1.
int pixvane_main(int argc, char *argv[]);

#endif
