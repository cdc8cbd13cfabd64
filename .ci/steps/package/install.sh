# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# DESTDIR installs as a Buildroot or Yocto recipe makes them: native to /usr
# and to /opt/pv, and a cross build with and without a sysroot for pkg-config.
# Sourced by .ci/steps/package.sh, which makes the default build and its
# install to /usr in STAGE.

# expect_install STAGE PREFIX RULES_DIR UNIT_DIR LOG: STAGE holds exactly
# the files an install to PREFIX makes, the rule and the unit in the given
# directories, and LOG (the install's output) names nothing outside STAGE.
expect_install() {
    local stage=$1 prefix=$2 rules=$3 units=$4 log=$5 want got
    want=$(printf '%s\n' "$prefix/sbin/pixvane" \
        "$prefix/share/man/man8/pixvane.8.gz" \
        "$prefix/share/doc/pixvane/LICENSE" \
        "$prefix/share/doc/pixvane/examples/inittab" \
        "$prefix/share/doc/pixvane/examples/mdev.conf" \
        "$prefix/share/doc/pixvane/examples/pixvane.init" \
        "$prefix/libexec/pixvane/pixvane-unit" \
        "$rules/60-pixvane-fb.rules" \
        "$units/pixvane@.service" \
        "$units/pixvane-group.service" | sort)
    got=$(cd "$stage" && find . -type f | sed 's#^\.##' | sort)
    [[ $got == "$want" ]] || die "installed files differ:" "$(diff <(echo "$want") <(echo "$got"))"
    [[ -x $stage$prefix/sbin/pixvane ]] || die "$prefix/sbin/pixvane is not executable"
    grep -qx "ExecStart=$prefix/libexec/pixvane/pixvane-unit %i" "$stage$units/pixvane@.service" ||
        die "the unit does not start the wrapper in $prefix/libexec/pixvane"
    grep -qx "ExecStart=$prefix/libexec/pixvane/pixvane-unit --group video" "$stage$units/pixvane-group.service" ||
        die "the group check does not start the wrapper in $prefix/libexec/pixvane"
    grep -qF "$prefix/sbin/pixvane \"\$@\"" "$stage$prefix/libexec/pixvane/pixvane-unit" ||
        die "the wrapper does not run $prefix/sbin/pixvane"
    # Debian's own copyright stays in the package; the licence is there.
    cmp -s "$SRC/LICENSE" "$stage$prefix/share/doc/pixvane/LICENSE" || die "LICENSE differs"
    ! grep -v "^-- \(Installing\|Up-to-date\): $stage/" "$log" |
        grep -q '^-- \(Installing\|Up-to-date\):' || die "installed outside DESTDIR"
}

# shellcheck disable=SC2153 # STAGE is package.sh's
destdir_install() {
    expect_install "$STAGE" /usr "$UDEV_RULES_DIR" "$UNIT_DIR" "$TMP/install-default.log"
}
check "DESTDIR install to /usr: sbin, man8, licence, examples, udev rule and unit" destdir_install

# The same build installed to another prefix: everything under it, even
# where pkg-config names a directory of the system (/lib/systemd/system).
opt_install() {
    local stage=$TMP/stage-opt
    DESTDIR=$stage cmake --install "$DEFAULT_BUILD" --prefix /opt/pv >"$TMP/install-opt.log"
    expect_install "$stage" /opt/pv /opt/pv/lib/udev/rules.d /opt/pv/lib/systemd/system \
        "$TMP/install-opt.log"
}
check "DESTDIR install with --prefix /opt/pv keeps everything under /opt/pv" opt_install

# A cross build asks pkg-config only when it is pointed at the target. One
# armhf build, configured twice: without a sysroot this machine's .pc files
# must not be read (the defaults under /usr); with a sysroot whose .pc files
# name directories of their own, those are taken, without the sysroot.
cross_install() {
    local dir=$TMP/cross-armhf sysroot=$TMP/sysroot stage
    env -u PKG_CONFIG_LIBDIR -u PKG_CONFIG_SYSROOT_DIR -u PKG_CONFIG_PATH \
        cmake -S "$SRC" -B "$dir" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF \
        -DPIXVANE_STATIC=ON -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchains/arm-linux-gnueabihf.cmake" \
        >"$TMP/configure-cross.log" || die "configure: $(cat "$TMP/configure-cross.log")"
    logged build-cross cmake --build "$dir"
    stage=$TMP/stage-cross
    DESTDIR=$stage cmake --install "$dir" >"$TMP/install-cross.log"
    expect_install "$stage" /usr /usr/lib/udev/rules.d /usr/lib/systemd/system "$TMP/install-cross.log"

    mkdir -p "$sysroot/usr/share/pkgconfig"
    printf 'udevdir=/target/udev\nName: udev\nDescription: udev\nVersion: 252\n' \
        >"$sysroot/usr/share/pkgconfig/udev.pc"
    printf 'systemdsystemunitdir=/target/units\nName: systemd\nDescription: systemd\nVersion: 252\n' \
        >"$sysroot/usr/share/pkgconfig/systemd.pc"
    PKG_CONFIG_SYSROOT_DIR=$sysroot PKG_CONFIG_LIBDIR=$sysroot/usr/share/pkgconfig \
        cmake "$dir" >"$TMP/configure-cross.log" || die "configure: $(cat "$TMP/configure-cross.log")"
    stage=$TMP/stage-cross-sysroot
    DESTDIR=$stage cmake --install "$dir" >"$TMP/install-cross.log"
    expect_install "$stage" /usr /target/udev/rules.d /target/units "$TMP/install-cross.log"
}
check "cross install: pkg-config read only with a sysroot, which is then taken off" cross_install

# The default build above names no build type and is optimised; the packages
# name theirs (MinSizeRel), which is kept.
default_build_type() {
    grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$DEFAULT_BUILD/CMakeCache.txt" ||
        die "no build type did not give Release: $(grep '^CMAKE_BUILD_TYPE' "$DEFAULT_BUILD/CMakeCache.txt")"
    grep -q '"command": ".* -O3 .*app/main\.cpp"' "$DEFAULT_BUILD/compile_commands.json" ||
        die "app/main.cpp is not compiled with -O3"
    grep -qx 'CMAKE_BUILD_TYPE:STRING=MinSizeRel' "$SRC/build/deb-amd64/CMakeCache.txt" ||
        die "the package's own build type was overridden"
}
check "no build type builds Release; a build type given wins" default_build_type
