// SPDX-License-Identifier: MIT
// pixvane: set the colour depth of the framebuffer behind /dev/fb/0.
#include "driver.h"

int main(int argc, char *argv[])
{
    return pixvane_main(argc, argv);
}
