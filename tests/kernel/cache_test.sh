#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# fbvm's cache against damage: a copy of a warm cache is damaged on purpose
# and each run must notice, say what it builds again, and still deliver.
#
#   cache_test.sh --arch ARCH STATIC-BIN     the parts of a virt cache
#   cache_test.sh --board BOARD STATIC-BIN   a real board's device trees,
#                                            made again with no network
#
# The warm cache is fbvm's own (fbvm path cache) and is only read; the
# damage is done to a copy in a temporary directory. Refetching the kernel
# needs the network.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prog=cache_test
usage="cache_test.sh --arch ARCH|--board BOARD STATIC-BIN"
# shellcheck source=../../scripts/lib/sh.sh
. "$here/../../scripts/lib/sh.sh"
fbvm=$here/fbvm

[[ $# == 3 && ($1 == --arch || $1 == --board) ]] || usage_error "wrong arguments"
how=$1 name=$2 bin=$3
t=$(mktemp -d "${TMPDIR:-/tmp}/cache_test.XXXXXX")
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill -9 -- "-$p" 2>/dev/null || true; done
    rm -rf "$t"
}
trap cleanup EXIT

"$fbvm" prepare "$how" "$name" 2>/dev/null || die "the warm cache of $name cannot be prepared"
warm=$("$fbvm" path "$how" "$name" cache)
mkdir -p "$t/cache"
(exec {l}>"$warm/.lock" && flock -s "$l" && cp -a "$warm" "$t/cache/$name")
export PIXVANE_FBVM_CACHE=$t/cache
c=$t/cache/$name

# fbvm_to ERR CMD...: fbvm CMD with its stderr in $t/ERR; on failure, the
# last lines of it.
fbvm_to() {
    local err=$t/$1
    shift
    "$@" 2>"$err" || {
        tail -n 3 "$err"
        return 1
    }
}
has() { has_line "$t/err" "$1"; }

virt_cases() {
    echo "case: a part changed in place, same size, is found by its checksum"
    printf '\377' | dd of="$c/drm-cirrus.cpio" bs=1 seek=100 conv=notrunc status=none
    touch -r "$c/base.cpio" "$c/drm-cirrus.cpio"
    check "prepare works on a changed part" fbvm_to err "$fbvm" prepare "$how" "$name"
    check "the changed part is named" \
        has "cache: drm-cirrus.cpio has changed (its checksum differs); building the initramfs again"
    check "the repaired state" has "cache repaired (drm-cirrus.cpio has changed)"
    check "prepare works after the repair" fbvm_to err "$fbvm" prepare "$how" "$name"
    check "the repaired cache is reused" has "cache reused"

    echo "case: a truncated kernel image is fetched again, once, by two runs at once"
    local size n
    size=$(stat -c %s "$c/kernel/image")
    truncate -s $((size / 2)) "$c/kernel/image"
    for n in 1 2; do
        setsid "$fbvm" run "$how" "$name" --bin "$bin" --out "$t/run$n" -- 16 2>"$t/err$n" &
        pids+=($!)
    done
    for n in 1 2; do
        wait "${pids[n - 1]}" || fail "run $n failed on a truncated kernel image: $(tail -n 3 "$t/err$n")"
        check "run $n delivered a status" test -s "$t/run$n/status"
    done
    pids=()
    check "one repair of kernel/image between the two runs" eq "$(cat "$t/err1" "$t/err2" |
        grep -c "cache: kernel/image is truncated ($((size / 2)) of $size bytes); building the kernel again")" 1
    check "kernel/image is restored" eq "$(stat -c %s "$c/kernel/image")" "$size"

    echo "case: a prepare killed halfway leaves no cache taken as complete"
    setsid "$fbvm" prepare "$how" "$name" --refresh 2>"$t/err" &
    pids=($!)
    for ((n = 0; n < 300; n++)); do
        [[ -e "$c/ready" ]] || break
        sleep 0.1
    done
    kill -9 -- "-${pids[0]}"
    wait "${pids[0]}" 2>/dev/null || true
    pids=()
    check "a killed prepare leaves no ready marker" test ! -e "$c/ready"
    check "the run after a killed prepare works" fbvm_to err "$fbvm" run "$how" "$name" --bin "$bin" --out "$t/run3" -- 16
    check "the run after a killed prepare rebuilds the cache" has "cache rebuilt"
    check "the killed prepare's work is not left behind" eq "$(find "$c" -maxdepth 1 -name 'prepare.*')" ""
}

board_cases() {
    local dtbs first sum size
    mapfile -t dtbs < <(cd "$c/dtb" && ls -- *.dtb)
    ((${#dtbs[@]})) || die "$name has no device trees in $c/dtb"
    first=${dtbs[0]}
    sum=$(sha256sum <"$c/dtb/$first")
    size=$(stat -c %s "$c/dtb/$first")

    echo "case: a truncated device tree is made again from the package's own, offline"
    truncate -s 64 "$c/dtb/$first"
    check "prepare works offline on a truncated DTB" fbvm_to err no_network "$fbvm" prepare "$how" "$name"
    check "the truncated DTB is named" has "cache: dtb/$first is truncated (64 of $size bytes); building the dtb again"
    check "the repaired state" has "cache repaired (dtb/$first is truncated)"
    check "the kernel is not fetched again for a DTB" eq "$(grep -c fetching "$t/err")" 0
    check "dtb/$first comes back the same" eq "$(sha256sum <"$c/dtb/$first")" "$sum"

    echo "case: a missing device tree is made again, and the board boots with it"
    rm "$c/dtb/$first"
    check "the run after a missing DTB works offline" \
        fbvm_to err no_network "$fbvm" run "$how" "$name" --bin "$bin" --out "$t/run" -- 16
    check "the missing DTB is named" has "cache: dtb/$first is missing; building the dtb again"
    check "dtb/$first comes back the same" eq "$(sha256sum <"$c/dtb/$first")" "$sum"
    check "the program ran to its end" eq "$(cat "$t/run/status" 2>/dev/null)" 1
    check "the board booted with a framebuffer" grep -q '^bits_per_pixel=' "$t/run/var"

    echo "case: the stock device tree lost is fetched with the kernel, and the DTBs made anew"
    rm "$c/kernel/stock.dtb"
    check "prepare works without the stock DTB" fbvm_to err "$fbvm" prepare "$how" "$name"
    check "the stock DTB is named" has "cache: kernel/stock.dtb is missing; building the kernel again"
    check "the DTBs are made anew" has "making the $name device tree"
    check "dtb/$first comes back the same" eq "$(sha256sum <"$c/dtb/$first")" "$sum"
}

if [[ $how == --arch ]]; then virt_cases; else board_cases; fi
check_summary
