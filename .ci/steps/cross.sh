#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The ARM builds: a missing cross compiler that stops the configure and, once installed,
# builds in the same directory; armhf and arm64 on glibc with the unit and cli tests under
# qemu-user; the musl builds of armel, armhf and arm64 with the cli tests under qemu-user
# (armel on ARM926, ARM1176 and Cortex-A7), each checked for anything of glibc; a build the
# way a distribution's build system makes one (a toolchain file of its own, no presets, a
# DESTDIR install); the release files and the size report, whose table docs/DEVELOPING.md must show.
set -euo pipefail
cd "$(dirname "$0")/../.."
prog=cross
# shellcheck source=../../scripts/lib/sh.sh
. scripts/lib/sh.sh

section() { printf '\n---- cross: %s (%ss)\n' "$1" "$SECONDS"; }

section "install what is missing"
scripts/bootstrap g++-arm-linux-gnueabihf g++-aarch64-linux-gnu binutils-arm-linux-gnueabihf \
    g++-arm-linux-gnueabi qemu-user-static googletest make
for tool in qemu-arm-static qemu-aarch64-static; do
    command -v "$tool" >/dev/null || die "$tool missing after install"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

section "a missing cross compiler stops the configure; after the install it passes"
t0=$SECONDS
# shellcheck source=cross/compiler-missing.sh
. .ci/steps/cross/compiler-missing.sh
echo "cross: the missing-compiler checks took $((SECONDS - t0)) s"

for preset in armhf arm64; do
    section "$preset: static, stripped; unit and cli tests under qemu-user"
    cmake --workflow --preset "$preset"
done

section "musl sysroots"
scripts/musl-sysroot
for preset in musl-armel musl-armhf musl-arm64; do
    section "$preset: static, stripped; cli tests under qemu-user; nothing of glibc"
    cmake --workflow --preset "$preset"
    scripts/check-musl "build/$preset"
done

section "armhf as a distribution builds it: own toolchain file, DESTDIR install"
# Written the way Buildroot and Yocto write theirs: the target's compilers, flags and
# root. Nothing in it knows this project.
cat >"$work/toolchain.cmake" <<'EOF'
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER /usr/bin/arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER /usr/bin/arm-linux-gnueabihf-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -pipe")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -pipe")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
# Make, not Ninja, as Buildroot uses: nothing may depend on the presets' generator.
cmake -S . -B "$work/build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF \
    -DPIXVANE_STATIC=ON
cmake --build "$work/build"
stage=$work/stage
DESTDIR=$stage cmake --install "$work/build"
find "$stage" -type f | sed "s#^$stage##" | sort

tool=$stage/usr/sbin/pixvane
[ -x "$tool" ] || die "no executable usr/sbin/pixvane in the staging directory"
header=$(arm-linux-gnueabihf-readelf -hW "$tool")
if ! grep -Eq 'Class: +ELF32' <<<"$header" || ! grep -Eq 'Machine: +ARM$' <<<"$header"; then
    die "staged pixvane is not a 32-bit ARM executable:"$'\n'"$header"
fi
if arm-linux-gnueabihf-readelf -lW "$tool" | grep -q 'program interpreter' ||
    ! arm-linux-gnueabihf-readelf -dW "$tool" | grep -q 'no dynamic section'; then
    die "staged pixvane is not statically linked"
fi
echo "cross: usr/sbin/pixvane is a static 32-bit ARM executable"
# It runs: without a framebuffer it reports the missing device and exits 1. Skipped on a
# machine that has one, whose mode it would change.
if [ ! -e /dev/fb/0 ]; then
    status=0
    out=$(qemu-arm-static "$tool" 16) || status=$?
    if [ "$status" -ne 1 ] || ! grep -q '/dev/fb/0' <<<"$out"; then
        die "staged pixvane under qemu-arm: status $status, output:"$'\n'"$out"
    fi
    echo "cross: it runs under qemu-arm and exits 1 without a framebuffer"
fi

section "release files (x86_64, arm64, armel), each checked for anything of glibc"
scripts/release

section "size report"
# The figures docs/DEVELOPING.md shows are this build's: a change in size fails here until it has them.
scripts/size-report --check --readme docs/DEVELOPING.md

section "done"
