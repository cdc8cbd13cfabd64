#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CI: the Yocto layer meta-pixvane parsed and checked with BitBake and oe-core
# (scarthgap and wrynose), offline; tests/yocto/run says what is checked.
#
#   .ci/steps/yocto.sh [TREES]
#
# TREES (default ../shared/build-systems from the project's root, or
# PIXVANE_BUILD_SYSTEMS) holds the BitBake and oe-core tarballs and their
# SHA256SUMS. Without them the step says in one line that it did not run, and
# why, and exits 0. oe-core refuses root: as root the checks run as the user
# pixvane-yocto, made here if missing, and BitBake's trees and caches stay in
# that user's ~/.cache/pixvane-yocto; as another user, in that user's.
# PIXVANE_RELEASE_REF: the commit whose source tarball the recipe's sum must
# match (default: the tag v<version>).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
root=$PWD
start=$SECONDS

trees=${1:-${PIXVANE_BUILD_SYSTEMS:-$root/../shared/build-systems}}
prog=yocto
# shellcheck source=../../scripts/lib/sh.sh
. "$root/scripts/lib/sh.sh"
rc=0
sums_verify "$trees" bitbake-2.8.tar.xz bitbake-2.18.tar.xz \
    openembedded-core-scarthgap.tar.xz openembedded-core-wrynose.tar.xz || rc=$?
if ((rc == 1)); then
    echo "yocto: NOT RUN: no $sums_missing in $trees (BitBake and oe-core are not in Debian and cannot be downloaded here)"
    exit 0
fi
((rc == 0)) || die "the tarballs in $trees do not match their SHA256SUMS"

# What oe-core's sanity check asks of the host besides build-essential.
apt_prog=yocto
# shellcheck source=../../scripts/lib/apt.sh
. "$root/scripts/lib/apt.sh"
if [[ $(id -u) == 0 ]]; then
    apt_install locales chrpath diffstat gawk lz4 zstd file cpio git python3
    if ! locale -a | grep -qix 'en_US.utf-*8'; then
        sed -i 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >>/etc/locale.gen
        locale-gen >/dev/null
    fi
    user=pixvane-yocto
    id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
    home=$(getent passwd "$user" | cut -d: -f6)
    as_user() { runuser -u "$user" -- env HOME="$home" "$@"; }
else
    home=$HOME
    as_user() { "$@"; }
fi
cache=$home/.cache/pixvane-yocto
as_user mkdir -p "$cache"

# The project's files as they are in this checkout, in a copy the user owns:
# the layer builds the tree it lives in, and the checkout may be root's.
# Copied with their times, so that BitBake's parse cache still holds.
src=$cache/src
rm -rf "$src" "$cache/release"
as_user mkdir -p "$src" "$cache/release"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | as_user tar -xf - -C "$src"

# The release tarball that PIXVANE_RELEASE_SITE points the recipe at. The
# recipe pins the sum of the release tag's tarball (PIXVANE_RELEASE_REF names
# another commit to compare with); without the tag there is nothing to compare
# it with, so it is only parsed, with this commit's tarball.
version=$(sed -n 's/^project(pixvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
ref=${PIXVANE_RELEASE_REF:-v$version}
sum=
if git rev-parse --verify --quiet "$ref^{commit}" >/dev/null; then
    sum=$(scripts/release --source "$ref" "$cache/release" | cut -d' ' -f1)
    echo "yocto: the recipe's SRC_URI[sha256sum] must be $sum, the sum of $ref's tarball"
else
    scripts/release --source HEAD "$cache/release" >/dev/null
    echo "yocto: the recipe's SRC_URI[sha256sum] was NOT compared with the release tarball: no $ref in this clone"
fi
chown -R --reference="$cache" "$cache/release"

rc=0
as_user "$src/tests/yocto/run" "$trees" "$src" "$cache" "$cache/release" ${sum:+"$sum"} || rc=$?
echo "yocto step took $((SECONDS - start)) s"
exit "$rc"
