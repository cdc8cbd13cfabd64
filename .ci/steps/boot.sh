#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The boot tests: the amd64 .deb installed with dpkg in a Debian bookworm
# root (systemd 252) and booted in qemu, in eight cases; in a trixie root
# (systemd 257) with and without a framebuffer, and trixie's lintian on it;
# in a bullseye root (systemd 247, the oldest in the registry's reach); all
# on bookworm's 6.1 kernel. Then two busybox init boots, as a Buildroot image
# boots, with the inittab, mdev.conf and init script examples the package
# ships. tests/boot/run says how; the CTest
# label is "boot", and "cmake --workflow --preset boot" runs them.
#
# The boots run one at a time (the preset's jobs: 1): the boot without a
# framebuffer is timed against the one with it, and two VMs sharing the CPU
# would time neither honestly. They need root (mmdebstrap and chroot), which
# CI is. The Debian root and the kernel are cached under ~/.cache
# (pixvane-boot, pixvane-fbvm) and made on first use.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

[[ $(id -u) == 0 ]] || {
    echo "boot: the boot tests build and enter a root file system, and need root" >&2
    exit 1
}
start=$SECONDS
scripts/bootstrap mmdebstrap qemu-system-x86 cpio
rc=0
cmake --workflow --preset boot || rc=$?
# What each boot measured: the time to multi-user.target with and without a
# framebuffer, the unit's exposure in the booted system.
echo "boot: what the boots measured"
for f in build/boot/tests/boot/runs/*/summary; do
    [[ -f $f ]] && echo "${f%/summary}" | sed 's#.*/##' | tr '\n' '\t' && cat "$f"
done || true
echo "boot step took $((SECONDS - start)) s"
exit "$rc"
