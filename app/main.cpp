// SPDX-License-Identifier: MIT
// pixvane: set the colour depth of the framebuffer behind /dev/fb/0.
#include "driver.h"

// The version, for what(1) and strings(1) on a board: the command line has no
// option for it. retain keeps it past --gc-sections, used past the compiler.
[[gnu::used, gnu::retain]] static const char pixvane_ident[] = "@(#) pixvane " PIXVANE_VERSION;

int main(int argc, char *argv[])
{
    return pixvane_main(argc, argv);
}
