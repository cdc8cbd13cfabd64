#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages of pixvane for amd64, armel, armhf and arm64 and checks
# them and everything they carry:
#   - the manual page: mandoc and groff lint, rendering, every line the tool
#     can write is documented, the page in the package is gzip -9n;
#   - each package: lintian, its control fields, its contents, the
#     architecture of the binary in it;
#   - the amd64 package unpacked into a throwaway root and run from there
#     (and the ARM ones under qemu-user where it is installed);
#   - the licence in every package and install;
#   - DESTDIR installs as Buildroot and Yocto do them: to /usr, to /opt/pv,
#     and cross with and without a sysroot for pkg-config; the build type a
#     build without one gets;
#   - the systemd unit with systemd-analyze verify;
#   - the udev rule with udevadm test and the busybox mdev line with mdev -s,
#     both on a made-up sysfs in a private mount namespace.
# Build trees: build/deb-<arch>, build/install-default and a cross one in
# $TMP, all made here first. Each group of checks is a file of its own under
# package/, sourced here.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
readonly SRC=$PWD
START=$SECONDS
prog=package
# shellcheck source=../../scripts/lib/sh.sh
. "$SRC/scripts/lib/sh.sh"

apt_prog=package
# shellcheck source=../../scripts/lib/apt.sh
. "$SRC/scripts/lib/apt.sh"
apt_install cmake ninja-build gzip dpkg binutils mandoc groff-base man-db bsdextrautils \
    lintian systemd udev busybox util-linux shellcheck \
    g++-arm-linux-gnueabi g++-aarch64-linux-gnu qemu-user-static

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# What every part checks is built here first; the parts only check, each
# reading these facts and builds and none another part's.

MAN=$SRC/man/pixvane.8
# Where the unit and the rule go, as the deb preset (cmake/presets/matrix.json;
# the boot preset inherits it) gives them and the checks expect them: /usr/lib,
# in one package for Debian 12 "bookworm" and 13 "trixie". trixie's lintian rejects files under /lib
# (aliased-location: /lib is only a link to /usr/lib there). bookworm's
# lintian accepts /usr/lib, and its systemd and udev read it: systemd 252
# lists /usr/lib/systemd/system among its unit paths, and its udevadm names
# /usr/lib/udev/rules.d, not /lib/udev/rules.d, among its rules
# directories. A bookworm system has a merged /usr anyway: its
# init-system-helpers depends on usrmerge (which merges it) or
# usr-is-merged. Given by hand, so that every architecture's package has
# the same layout whatever pkg-config on the build machine knows of the
# target. The boot tests boot this package on bookworm, trixie and bullseye
# and run trixie's lintian on it.
readonly DEB_UNIT_DIR=/usr/lib/systemd/system DEB_UDEV_RULES_DIR=/usr/lib/udev/rules.d

# logged NAME CMD...: CMD's output kept in $TMP/NAME.log, and shown when it fails.
logged() {
    local log=$TMP/$1.log
    shift
    "$@" >"$log" 2>&1 || {
        cat "$log"
        return 1
    }
}

# build_deb ARCH [CMAKE ARGS...]: build/deb-ARCH/packages/pixvane_*_ARCH.deb,
# with the deb preset's flags, in a directory of the architecture's own.
build_deb() {
    local arch=$1 dir=$SRC/build/deb-$1
    shift
    rm -rf "$dir"
    logged "configure-$arch" cmake -S "$SRC" -B "$dir" --preset deb "$@"
    logged "build-$arch" cmake --build "$dir"
    (cd "$dir" && logged "cpack-$arch" cpack -G DEB)
}

# The packaged pixvane is the static musl build. armhf carries the armel (ARMv5TE) binary:
# Debian's armhf libc.a, musl's too, is ARMv7 code, and Raspberry Pi OS, an "armhf" system,
# runs on ARMv6 (ARM1176). A static binary does not care about the system's float ABI.
echo "Building the packages"
toolchains=$SRC/cmake/toolchains
build_deb amd64 -DCMAKE_TOOLCHAIN_FILE="$toolchains/musl-x86_64.cmake"
build_deb armel -DCMAKE_TOOLCHAIN_FILE="$toolchains/musl-armel.cmake"
build_deb armhf -DCMAKE_TOOLCHAIN_FILE="$toolchains/musl-armel.cmake" \
    -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE=armhf
build_deb arm64 -DCMAKE_TOOLCHAIN_FILE="$toolchains/musl-arm64.cmake"

deb_of() {
    local debs=("$SRC/build/deb-$1/packages/"pixvane_*_"$1".deb)
    [[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || die "expected one pixvane_*_$1.deb, found: ${debs[*]}"
    echo "${debs[0]}"
}

# unpacked ARCH: where the ARCH package is unpacked.
unpacked() { echo "$TMP/contents-$1"; }
for arch in amd64 armel armhf arm64; do
    dpkg-deb -x "$(deb_of "$arch")" "$(unpacked "$arch")"
done

STAGE=$TMP/stage
DEFAULT_BUILD=$SRC/build/install-default
rm -rf "$DEFAULT_BUILD"
logged configure-default cmake -S "$SRC" -B "$DEFAULT_BUILD" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
logged build-default cmake --build "$DEFAULT_BUILD"
DESTDIR=$STAGE cmake --install "$DEFAULT_BUILD" >"$TMP/install-default.log"

# A native /usr install: where this machine's pkg-config says, else the
# defaults under the prefix.
udev_dir=$(pkg-config --variable=udevdir udev 2>/dev/null || true)
unit_dir=$(pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null || true)
UDEV_RULES_DIR=${udev_dir:-/usr/lib/udev}/rules.d
UNIT_DIR=${unit_dir:-/usr/lib/systemd/system}

# shellcheck source=package/man.sh
. "$SRC/.ci/steps/package/man.sh"
# shellcheck source=package/deb.sh
. "$SRC/.ci/steps/package/deb.sh"
# shellcheck source=package/install.sh
. "$SRC/.ci/steps/package/install.sh"
# shellcheck source=package/unit.sh
. "$SRC/.ci/steps/package/unit.sh"
# shellcheck source=package/judge.sh
. "$SRC/.ci/steps/package/judge.sh"
# shellcheck source=package/devnodes.sh
. "$SRC/.ci/steps/package/devnodes.sh"
# shellcheck source=package/remove.sh
. "$SRC/.ci/steps/package/remove.sh"

scripts_lint() {
    local init=$STAGE/usr/share/doc/pixvane/examples/pixvane.init
    sh -n "$init" || die "pixvane.init does not parse"
    shellcheck -s sh "$init" || die "shellcheck pixvane.init"
    shellcheck -x "$SRC/.ci/steps/package.sh" "$SRC"/.ci/steps/package/*.sh || die "shellcheck package.sh"
}
check "init script example and these scripts pass shellcheck" scripts_lint

echo
echo "Packages:"
for arch in amd64 armel armhf arm64; do
    echo "  $(deb_of "$arch")"
done
echo "package.sh took $((SECONDS - START)) s"
check_summary
