#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A real board's device trees in fbvm's cache: a copy of the board's warm
# cache is damaged on purpose, and the DTBs must be made again from the
# kernel package's own, with no network and no new download, and boot.
#
#   board_cache_test.sh BOARD STATIC-BIN
#
# The warm cache is fbvm's own (PIXVANE_FBVM_CACHE or its default) and is
# only read; the damage is done to a copy in a temporary directory.
set -euo pipefail
board=${1:?usage: board_cache_test.sh BOARD STATIC-BIN}
bin=${2:?usage: board_cache_test.sh BOARD STATIC-BIN}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fbvm=$here/fbvm
warm=${PIXVANE_FBVM_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/pixvane-fbvm}/$board

t=$(mktemp -d "${TMPDIR:-/tmp}/board_cache_test.XXXXXX")
trap 'rm -rf "$t"' EXIT
# shellcheck source=../scripts/check.sh
. "$here/../scripts/check.sh"

# No network: a namespace of its own with only a loopback that is down.
offline() {
    local ns=(unshare -n)
    [[ $(id -u) == 0 ]] || ns=(unshare -rn)
    "${ns[@]}" "$@"
}

"$fbvm" prepare --board "$board" 2>/dev/null || {
    echo "board_cache_test: the warm cache $warm cannot be prepared" >&2
    exit 1
}
mkdir -p "$t/cache"
(exec {l}>"$warm/.lock" && flock -s "$l" && cp -a "$warm" "$t/cache/$board")
export PIXVANE_FBVM_CACHE=$t/cache
c=$t/cache/$board
mapfile -t dtbs < <(cd "$c/dtb" && ls -- *.dtb)
((${#dtbs[@]})) || {
    echo "board_cache_test: $board has no device trees in $c/dtb" >&2
    exit 1
}

echo "case: a truncated device tree is made again from the package's own, offline"
first=${dtbs[0]}
sum=$(sha256sum <"$c/dtb/$first")
size=$(stat -c %s "$c/dtb/$first")
truncate -s 64 "$c/dtb/$first"
offline "$fbvm" prepare --board "$board" 2>"$t/err" || fail "prepare failed on a truncated DTB"
expect_line "$t/err" "cache: dtb/$first is truncated (64 of $size bytes); building the dtb again" \
    "the truncated DTB"
expect_line "$t/err" "cache repaired (dtb/$first is truncated)" "the repaired state"
grep -q 'fetching' "$t/err" && fail "the kernel was fetched again for a DTB"
[[ $(sha256sum <"$c/dtb/$first") == "$sum" ]] || fail "dtb/$first came back different"

echo "case: a missing device tree is made again, and the board boots with it"
rm "$c/dtb/$first"
offline "$fbvm" run --board "$board" --bin "$bin" --out "$t/run" -- 16 2>"$t/err" ||
    fail "the run after a missing DTB failed: $(tail -n 3 "$t/err")"
expect_line "$t/err" "cache: dtb/$first is missing; building the dtb again" "the missing DTB"
[[ $(sha256sum <"$c/dtb/$first") == "$sum" ]] || fail "dtb/$first came back different"
[[ $(cat "$t/run/status" 2>/dev/null) == 1 ]] || fail "the program did not run to its end"
grep -q '^bits_per_pixel=' "$t/run/var" 2>/dev/null || fail "the board booted without a framebuffer"

echo "case: the stock device tree lost is fetched with the kernel, and the DTBs made anew"
rm "$c/kernel/stock.dtb"
"$fbvm" prepare --board "$board" 2>"$t/err" || fail "prepare failed without the stock DTB"
expect_line "$t/err" "cache: kernel/stock.dtb is missing; building the kernel again" "the stock DTB"
expect_line "$t/err" "making the $board device tree" "the DTBs made anew"
[[ $(sha256sum <"$c/dtb/$first") == "$sum" ]] || fail "dtb/$first came back different"

if ((failures)); then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all cases passed"
