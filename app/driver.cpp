// SPDX-License-Identifier: MIT
// Banner, depth argument and the fixed order of calls into the video-output module.
#include "driver.h"

#include <stdio.h>
#include <stdlib.h>

#include "vo.h"

namespace
{

constexpr long DEFAULT_BPP = 24;
constexpr long MIN_BPP = 8;
constexpr long MAX_BPP = 32;

static_assert(MIN_BPP <= DEFAULT_BPP && DEFAULT_BPP <= MAX_BPP, "default depth out of bounds");

// Depth wanted by the command line argv: the first argument in decimal,
// or DEFAULT_BPP when it is absent or outside MIN_BPP..MAX_BPP.
int pixvane_wanted_bpp(int argc, char *argv[])
{
    long bpp = DEFAULT_BPP;
    if (argc > 1)
        bpp = strtol(argv[1], nullptr, 10);

    // Bound the full long: narrowing first would let 2^32 + 16 pass as 16.
    if (bpp < MIN_BPP || bpp > MAX_BPP)
        bpp = DEFAULT_BPP;
    return static_cast<int>(bpp);
}

} // namespace

int pixvane_main(int argc, char *argv[])
{
    puts("Pixvane by Qor-EN\n");

    const int bpp = pixvane_wanted_bpp(argc, argv);

    vo_reset_state();
    if (vo_open() == 1)
        (void)vo_set_bpp(bpp);
    vo_uninit();

    return 1;
}
