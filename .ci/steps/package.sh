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
# $TMP. Each group of checks is a file of its own under package/, sourced
# here in order.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
readonly SRC=$PWD
START=$SECONDS

# --- Tools -------------------------------------------------------------------

apt_prog=package
# shellcheck source=../../scripts/lib/apt.sh
. "$SRC/scripts/lib/apt.sh"
apt_install cmake ninja-build gzip dpkg binutils mandoc groff-base man-db bsdextrautils \
    lintian systemd udev busybox util-linux shellcheck \
    g++-arm-linux-gnueabi g++-aarch64-linux-gnu qemu-user-static

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# --- Check runner ------------------------------------------------------------

passed=0
failed=0
failures=()
# check NAME FUNCTION ARGS...: runs the function in a subshell with errexit,
# so that any failing command fails the check (die says why). Bash ignores
# errexit in a subshell that is tested by if, && or ||, hence the set +e.
check() {
    local name=$1 rc
    shift
    set +e
    (
        set -e
        "$@"
    )
    rc=$?
    set -e
    if ((rc == 0)); then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        failed=$((failed + 1))
        failures+=("$name")
    fi
}
# die MESSAGE: ends the check (the subshell) that calls it.
die() {
    echo "  $*" >&2
    exit 1
}
# expect_file ROOT PATH: PATH exists under ROOT.
expect_file() {
    [[ -e $1/$2 || -L $1/$2 ]] || die "missing: $2 (in $1)"
}

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

# --- Shell examples ------------------------------------------------------------

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
echo "package: $passed passed, $failed failed"
if ((failed)); then
    printf 'failed: %s\n' "${failures[@]}"
    exit 1
fi
