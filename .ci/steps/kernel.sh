#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The kernel tests: the static pixvane run on real framebuffer drivers of
# Debian's x86_64, armhf and arm64 kernels, each in its own qemu VMs; the
# glibc builds, then the musl builds that are shipped (armel, the 32-bit ARM
# one, on the armhf kernel).
#
# fbvm fetches and builds what the VMs need on first use and keeps it under
# ${PIXVANE_FBVM_CACHE:-~/.cache/pixvane-fbvm}; it also installs the host
# tools it lacks (qemu, the compilers for its probe and for vfb.ko). The test
# driver of an ARM preset is cross-built like pixvane and runs under qemu-user.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

section() { printf '\n---- kernel: %s (%ss)\n' "$1" "$SECONDS"; }

section "install what is missing"
scripts/bootstrap g++-arm-linux-gnueabihf g++-aarch64-linux-gnu g++-arm-linux-gnueabi \
    qemu-user-static googletest

for preset in kernel kernel-armhf kernel-arm64 kernel-musl-x86_64 kernel-musl-armel kernel-musl-arm64; do
    section "$preset"
    cmake --workflow --preset "$preset"
done

section "done"
