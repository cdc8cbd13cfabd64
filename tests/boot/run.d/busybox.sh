# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: busybox init boots (placeholder until written).
busybox_cases=(inittab rcS)
busybox_boot() { die "not yet"; }
