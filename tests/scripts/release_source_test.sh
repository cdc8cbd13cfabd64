#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/release --source: the same commit gives the same bytes, the tarball holds exactly the
# commit's files under pixvane-<version>/, and it builds and installs as a recipe builds it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=check.sh
. "$here/check.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
version=$(sed -n 's/^project(pixvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
ref=$(git -C "$root" rev-parse HEAD)
tarball=pixvane-$version.tar.gz

"$root/scripts/release" --source "$ref" "$work/a" >"$work/a.sum"
sleep 1 # a second later: a time taken from the clock would show
"$root/scripts/release" --source "$ref" "$work/b" >"$work/b.sum"
cmp -s "$work/a/$tarball" "$work/b/$tarball" || fail "two tarballs of one commit differ"
[[ $(cat "$work/a.sum") == "$(cd "$work/a" && sha256sum "$tarball")" ]] ||
    fail "the printed checksum is not the tarball's"

tar -tzf "$work/a/$tarball" | grep -v '/$' | sort >"$work/listed"
git -C "$root" ls-tree -r --name-only "$ref" | sed "s|^|pixvane-$version/|" | sort >"$work/committed"
diff -u "$work/committed" "$work/listed" >&2 || fail "the tarball does not hold exactly the commit's files"

# What a Buildroot or Yocto recipe does with it: unpack, configure without the tests, install.
tar -xzf "$work/a/$tarball" -C "$work"
src=$work/pixvane-$version
if cmake -S "$src" -B "$work/build" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >"$work/build.log" 2>&1 &&
    cmake --build "$work/build" >>"$work/build.log" 2>&1 &&
    DESTDIR=$work/root cmake --install "$work/build" >>"$work/build.log" 2>&1; then
    [[ -x $work/root/usr/sbin/pixvane ]] || fail "the tarball's install has no /usr/sbin/pixvane"
else
    fail "the tarball does not build:"
    tail -n 20 "$work/build.log" >&2
fi

((failures == 0)) || exit 1
echo "release --source: reproducible, complete, builds"
