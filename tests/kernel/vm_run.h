// SPDX-License-Identifier: MIT
// One fbvm run as the kernel tests see it: the tool run in a VM, what the
// runner brought back, and the checks on it that the cases share.
#ifndef PIXVANE_KERNEL_VM_RUN_H
#define PIXVANE_KERNEL_VM_RUN_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

using Fields = std::map<std::string, std::string>;

// What one VM run handed back.
struct VmRun {
    bool ok = false; // the runner delivered results
    std::string dir;
    std::string out;
    std::string err;
    int status = -1;
    bool has_var = false;
    Fields var_before, var, fix_before, fix;
    std::string mem;
    std::string setup_out; // what --setup printed
};

inline constexpr char kBanner[] = "Pixvane by Qor-EN\n\n";

// The value of the environment variable name, or fallback when it is unset
// or empty.
std::string env_or(const char *name, const char *fallback);

// Empty when the file is missing; present tells the two apart.
std::string read_file(const std::string &path, bool *present = nullptr);

// "key=value" lines as a map.
Fields parse_fields(const std::string &text);

// The field key as a number (0x for hexadecimal); a missing field fails the
// test.
unsigned long long number(const Fields &fields, const std::string &key);

// Runs the tool in a VM: fbvm run OPTIONS -- ARGS, into a directory of the
// current test's own, so that cases can run side by side. bin is the program
// to run; empty means the pixvane of this build (or $PIXVANE_BIN).
VmRun run_vm(const std::vector<std::string> &options, const std::vector<std::string> &args,
             const std::string &bin = "");

// The "FB" line the tool writes for the fixed information fix.
std::string fb_line(const Fields &fix);

// What a run does with the depth asked for.
enum class Outcome {
    kSame,    // already at that depth: nothing is sent
    kSet,     // sent, and read back as sent
    kRefused, // the driver refuses it: "Can't set VSCREENINFO"
    kOther,   // taken, but read back as another depth
};

// Everything the tool prints on a device found at depth `from` (fixed
// information fix) when asked for `want`, ending as outcome says.
std::string run_lines(const Fields &fix, int from, int want, Outcome outcome);

// Index of the first byte in [from, to) of mem that is not value, or -1.
long first_other(const std::string &mem, std::size_t from, std::size_t to, unsigned char value);

// Video memory after a run that prefilled it with 0xff: the first `cleared`
// bytes are zero, and every byte after them is still 0xff.
void expect_cleared_prefix(const VmRun &run, std::size_t cleared);

// The fields of the mode other than the depth and the colour layout must be
// the same before and after.
void expect_same_geometry(const Fields &before, const Fields &after);

// The visible pixels of a mode.
std::size_t screen_pixels(const Fields &var);

#endif
