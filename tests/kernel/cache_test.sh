#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# fbvm's cache against damage: a copy of a warm cache is damaged on purpose
# and each run must notice, say what it rebuilds, and still deliver.
#
#   cache_test.sh ARCH STATIC-BIN
#
# The warm cache is fbvm's own (PIXVANE_FBVM_CACHE or its default) and is
# only read; the damage is done to a copy in a temporary directory. Refetching
# the kernel needs the network.
set -euo pipefail
arch=${1:?usage: cache_test.sh ARCH STATIC-BIN}
bin=${2:?usage: cache_test.sh ARCH STATIC-BIN}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fbvm=$here/fbvm
warm=${PIXVANE_FBVM_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/pixvane-fbvm}/$arch

t=$(mktemp -d "${TMPDIR:-/tmp}/cache_test.XXXXXX")
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill -9 -- "-$p" 2>/dev/null || true; done
    rm -rf "$t"
}
trap cleanup EXIT
# shellcheck source=../scripts/check.sh
. "$here/../scripts/check.sh"

"$fbvm" prepare --arch "$arch" 2>/dev/null || {
    echo "cache_test: the warm cache $warm cannot be prepared" >&2
    exit 1
}
mkdir -p "$t/cache"
(exec {l}>"$warm/.lock" && flock -s "$l" && cp -a "$warm" "$t/cache/$arch")
export PIXVANE_FBVM_CACHE=$t/cache
c=$t/cache/$arch

echo "case: a part changed in place, same size, is found by its checksum"
printf '\377' | dd of="$c/drm-cirrus.cpio" bs=1 seek=100 conv=notrunc status=none
touch -r "$c/base.cpio" "$c/drm-cirrus.cpio"
"$fbvm" prepare --arch "$arch" 2>"$t/err" || fail "prepare failed on a changed part"
expect_line "$t/err" "cache: drm-cirrus.cpio has changed (its checksum differs); building the initramfs again" \
    "the changed part"
expect_line "$t/err" "cache repaired (drm-cirrus.cpio has changed)" "the repaired state"
"$fbvm" prepare --arch "$arch" 2>"$t/err" || fail "prepare failed after the repair"
expect_line "$t/err" "cache reused" "the repaired cache"

echo "case: a truncated kernel image is fetched again, once, by two runs at once"
size=$(stat -c %s "$c/kernel/image")
truncate -s $((size / 2)) "$c/kernel/image"
for n in 1 2; do
    setsid "$fbvm" run --arch "$arch" --bin "$bin" --out "$t/run$n" -- 16 2>"$t/err$n" &
    pids+=($!)
done
for n in 1 2; do
    wait "${pids[n - 1]}" || fail "run $n failed on a truncated kernel image: $(tail -n 3 "$t/err$n")"
    [[ -s "$t/run$n/status" ]] || fail "run $n delivered no status"
done
pids=()
n=$(cat "$t/err1" "$t/err2" | grep -c "cache: kernel/image is truncated ($((size / 2)) of $size bytes); building the kernel again" || true)
((n == 1)) || fail "expected one repair of kernel/image between the two runs, saw $n"
[[ $(stat -c %s "$c/kernel/image") == "$size" ]] || fail "kernel/image was not restored"

echo "case: a prepare killed halfway leaves no cache taken as complete"
setsid "$fbvm" prepare --arch "$arch" --refresh 2>"$t/err" &
pids=($!)
for ((n = 0; n < 300; n++)); do
    [[ -e "$c/ready" ]] || break
    sleep 0.1
done
kill -9 -- "-${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
pids=()
[[ ! -e "$c/ready" ]] || fail "a killed prepare left the ready marker"
"$fbvm" run --arch "$arch" --bin "$bin" --out "$t/run3" -- 16 2>"$t/err" ||
    fail "the run after a killed prepare failed: $(tail -n 3 "$t/err")"
expect_line "$t/err" "cache rebuilt" "the run after a killed prepare"
[[ -z $(find "$c" -maxdepth 1 -name 'prepare.*') ]] || fail "the killed prepare's work was left behind"

if ((failures)); then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all cases passed"
