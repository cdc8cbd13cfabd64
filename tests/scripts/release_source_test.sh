#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/release --source: the same commit gives the same bytes, the tarball holds exactly the
# commit's files under pixvane-<version>/, and it builds and installs as a recipe builds it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
prog=release_source_test
# shellcheck source=../../scripts/lib/sh.sh
. "$root/scripts/lib/sh.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
version=$(sed -n 's/^project(pixvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
ref=$(git -C "$root" rev-parse HEAD)
tarball=pixvane-$version.tar.gz

"$root/scripts/release" --source "$ref" "$work/a" >"$work/a.sum"
sleep 1 # a second later: a time taken from the clock would show
"$root/scripts/release" --source "$ref" "$work/b" >"$work/b.sum"
check "two tarballs of one commit are the same bytes" cmp "$work/a/$tarball" "$work/b/$tarball"
check "the printed checksum is the tarball's" eq "$(cat "$work/a.sum")" "$(cd "$work/a" && sha256sum "$tarball")"

tar -tzf "$work/a/$tarball" | grep -v '/$' | sort >"$work/listed"
git -C "$root" ls-tree -r --name-only "$ref" | sed "s|^|pixvane-$version/|" | sort >"$work/committed"
check "the tarball holds exactly the commit's files" diff -u "$work/committed" "$work/listed"

# What a Buildroot or Yocto recipe does with it: unpack, configure without the tests, install.
builds() {
    tar -xzf "$work/a/$tarball" -C "$work"
    local src=$work/pixvane-$version
    if ! { cmake -S "$src" -B "$work/build" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr &&
        cmake --build "$work/build" && DESTDIR=$work/root cmake --install "$work/build"; } >"$work/build.log" 2>&1; then
        tail -n 20 "$work/build.log"
        return 1
    fi
    [[ -x $work/root/usr/sbin/pixvane ]] || die "the install has no /usr/sbin/pixvane"
}
check "the tarball builds and installs /usr/sbin/pixvane" builds
check_summary
