#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The kernel tests: the static pixvane run on real framebuffer drivers of
# Debian's x86_64, armhf and arm64 kernels, each in its own qemu VMs; the
# glibc builds, then the musl builds that are shipped (armel, the 32-bit ARM
# one, on the armhf kernel); then the armel build on two real boards that qemu
# emulates: the PL111 CLCD of a Versatile Express (armmp kernel) and an ARMv6
# Raspberry Pi Zero (armel rpi kernel), where the glibc armhf build of
# kernel-armhf must stop with SIGILL.
#
# fbvm fetches and builds what the VMs need on first use and keeps it under
# ${PIXVANE_FBVM_CACHE:-~/.cache/pixvane-fbvm}; it also installs the host
# tools it lacks (qemu, the compilers for its probe and for vfb.ko). The test
# driver of an ARM preset is cross-built like pixvane and runs under qemu-user.
#
# For each architecture the log shows, once, the kernel and busybox packages
# the tests run on and the state of the cache (fresh, reused, repaired); then
# the tests; then a few of them again with no network at all, which a warm
# cache must be enough for. The x86_64 cache is also damaged on purpose, in a
# copy, to prove that it repairs itself, and so are the vexpress board's
# device trees.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

section() { printf '\n---- kernel: %s (%ss)\n' "$1" "$SECONDS"; }

# No network: a namespace of its own with only a loopback that is down. The
# apt programs are replaced by ones that leave a note, so that a warm cache
# that still reaches for apt fails here even where apt would shrug it off.
noapt=$(mktemp -d "${TMPDIR:-/tmp}/kernel-noapt.XXXXXX")
trap 'rm -rf "$noapt"' EXIT
for p in apt-get apt-cache; do
    cat >"$noapt/$p" <<EOS
#!/bin/sh
echo "$p \$*" >>"$noapt/called"
exit 100
EOS
    chmod +x "$noapt/$p"
done
prog=kernel
# shellcheck source=../../scripts/lib/sh.sh
. scripts/lib/sh.sh
offline() { no_network env PATH="$noapt:$PATH" "$@"; }
# offline_again NAME PRESET COUNT: the COUNT cases of PRESET's build labelled
# offline (tests/kernel/CMakeLists.txt), run again with no network, must all
# pass without calling apt. A passed line names the case, then dots; a
# parameterized case's name goes on with "  # GetParam() = ..." in ctest.
offline_again() {
    local name=$1 preset=$2 count=$3 n
    offline ctest --test-dir "build/$preset" -L '^offline$' --output-on-failure |
        tee "build/$preset/offline.log"
    n=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: kernel\..* \.+ +Passed' "build/$preset/offline.log" || true)
    [[ $n == "$count" ]] || {
        echo "kernel: $n of $count offline cases passed for $name" >&2
        exit 1
    }
    if [[ -e $noapt/called ]]; then
        echo "kernel: with a warm cache, the $name tests still called apt:" >&2
        cat "$noapt/called" >&2
        exit 1
    fi
}

section "install what is missing"
scripts/bootstrap g++-arm-linux-gnueabihf g++-aarch64-linux-gnu g++-arm-linux-gnueabi \
    qemu-user-static googletest

# platform_tests --arch|--board NAME PRESET COUNT: fbvm's cache of NAME, the
# tests of PRESET, then its COUNT offline cases again with no network.
platform_tests() {
    section "$2: what the tests run on"
    tests/kernel/fbvm prepare "$1" "$2"
    section "$2: cmake --workflow --preset $3"
    cmake --workflow --preset "$3"
    section "$2: $4 cases again, with no network"
    offline_again "$2" "$3" "$4"
}

for pair in x86_64:kernel armhf:kernel-armhf arm64:kernel-arm64; do
    platform_tests --arch "${pair%%:*}" "${pair#*:}" 4
done

# The shipped musl binaries on the same kernels; armel runs on the armhf kernel.
for preset in kernel-musl-x86_64 kernel-musl-armel kernel-musl-arm64; do
    section "$preset"
    cmake --workflow --preset "$preset"
done

# The real boards: each has a kernel, DTBs and a cache of its own, and a warm
# one must do without the network too.
for pair in vexpress:kernel-vexpress raspi0:kernel-raspi0; do
    platform_tests --board "${pair%%:*}" "${pair#*:}" 2
done

section "a damaged cache repairs itself"
bash tests/kernel/cache_test.sh --arch x86_64 build/kernel/pixvane

section "a board's damaged device trees are made again"
bash tests/kernel/cache_test.sh --board vexpress build/kernel-vexpress/pixvane

section "done"
