#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The boot tests' cached Debian root (tests/boot/run.d/rootfs.sh), with a
# stand-in for mmdebstrap that writes a small archive and counts its calls:
# a complete cache is reused, and the root is made again when the apt
# sources or the packages asked for change; another suite has a root of its
# own, from the same registry; when the archive is cut short or
# its bytes change, and when a build was killed before it finished.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
t=$(mktemp -d "${TMPDIR:-/tmp}/boot_cache_test.XXXXXX")
trap 'rm -rf "$t"' EXIT
prog=boot_cache_test
# shellcheck source=../../scripts/lib/sh.sh
. "$src/scripts/lib/sh.sh"
# shellcheck source=../../scripts/lib/cache.sh
. "$src/scripts/lib/cache.sh"

# The stand-in: an archive holding a dpkg status file, as mmdebstrap's does.
mkdir -p "$t/bin" "$t/tree/var/lib/dpkg"
printf 'Package: systemd\nVersion: 252.1\n\nPackage: udev\nVersion: 252.1\n' >"$t/tree/var/lib/dpkg/status"
cat >"$t/bin/mmdebstrap" <<EOS
#!/bin/sh
echo "\$*" >>"$t/calls"
for a in "\$@"; do case "\$a" in *.tar.tmp) tar -cf "\$a" -C "$t/tree" . ;; esac; done
EOS
chmod +x "$t/bin/mmdebstrap"
export PATH=$t/bin:$PATH

boot_cache=$t/cache
boot_cache_layout=3
# shellcheck source=../boot/run.d/rootfs.sh
. "$src/tests/boot/run.d/rootfs.sh"
# The machine's sources, replaced by one file of the test's own.
echo "deb http://example.invalid/debian bookworm main" >"$t/a.list"
rootfs_sources() { echo "$t/a.list"; }
rootfs_host_release() { echo bookworm; }

calls() { [[ -f $t/calls ]] && wc -l <"$t/calls" || echo 0; }
# prepare WANT_CALLS WHAT: runs rootfs_prepare in a subshell (its lock is
# an open descriptor) and checks how many builds there have been in all.
prepared() {
    (rootfs_prepare) 2>>"$t/log"
    eq "$(calls) builds" "$1 builds"
}
prepare() { check "$2: rootfs_prepare works, $1 builds in all" prepared "$1"; }

prepare 1 "an empty cache"
rootfs_ready || fail "the cache is not complete after a build"
grep -q -- '--format=tar' "$t/calls" || fail "mmdebstrap was not asked for a tar archive"
grep -q -- " bookworm $t/cache/bookworm/rootfs.tar.tmp deb http://example.invalid/debian bookworm main$" "$t/calls" ||
    fail "mmdebstrap was not given the suite and the machine's source: $(cat "$t/calls")"
[[ $(cat "$boot_cache/bookworm/rootfs.packages") == "systemd 252.1,udev 252.1,/lib apart from /usr/lib" ]] ||
    fail "the packages recorded: $(cat "$boot_cache/bookworm/rootfs.packages")"
prepare 1 "a complete cache"

echo "deb http://example.invalid/debian2 bookworm main" >"$t/a.list"
rootfs_ready && fail "changed sources still match the cache"
prepare 2 "changed apt sources"

rootfs_packages=$rootfs_packages,less
prepare 3 "another package list"

truncate -s -1 "$boot_cache/bookworm/rootfs.tar"
rootfs_ready && fail "a truncated archive is taken as complete"
prepare 4 "a truncated archive"

# Same size, other bytes: only the checksum tells.
printf 'X' | dd of="$boot_cache/bookworm/rootfs.tar" bs=1 seek=600 conv=notrunc status=none
prepare 5 "an archive whose bytes changed"

# A build killed halfway: no key written.
rm -f "$boot_cache/bookworm/ready"
rootfs_ready && fail "a cache without its key is taken as complete"
prepare 6 "a build that did not finish"
prepare 6 "the cache after all that"

# Another release: its own root, the machine's source with its suite.
rootfs_use trixie
rootfs_ready && fail "the bookworm root is taken for trixie's"
prepare 7 "another suite"
tail -n 1 "$t/calls" | grep -q -- " trixie $t/cache/trixie/rootfs.tar.tmp deb http://example.invalid/debian2 trixie main$" ||
    fail "trixie's root was not made from the machine's registry: $(tail -n 1 "$t/calls")"
rootfs_use bookworm
prepare 7 "the bookworm root, still there"

check_summary || {
    cat "$t/log" >&2
    exit 1
}
