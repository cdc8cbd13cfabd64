# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What tests/yocto/run sources until it sources scripts/lib/sh.sh itself:
# the library's fail, with failures counting the failed checks.
# shellcheck source=../../scripts/lib/sh.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/sh.sh"
declare -gn failures=checks_failed
