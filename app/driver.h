// The command-line front end, callable without a process of its own.
#ifndef PIXVANE_DRIVER_H
#define PIXVANE_DRIVER_H

constexpr long DEFAULT_BPP = 24;
constexpr long MIN_BPP = 8;
constexpr long MAX_BPP = 32;

// Depth wanted by the command line argv: the first argument in decimal,
// or DEFAULT_BPP when it is absent or outside MIN_BPP..MAX_BPP.
[[nodiscard]] int pixvane_wanted_bpp(int argc, char *argv[]);

// Runs the whole tool once. Returns the exit status, which is always 1.
int pixvane_main(int argc, char *argv[]);

#endif
