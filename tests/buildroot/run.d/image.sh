# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# buildroot: the Buildroot builds, their configurations, and the output kept
# in the cache between runs.
# Sourced by the runner, which defines die, note, cache, project, br_version.

# The configuration every build shares: aarch64, Debian's cross toolchain as
# a preinstalled external one, no file-system image (target/ is packed by the
# boots), the package.
br_defconfig() {
    cat <<EOF2
BR2_aarch64=y
BR2_TOOLCHAIN_EXTERNAL=y
BR2_TOOLCHAIN_EXTERNAL_CUSTOM=y
BR2_TOOLCHAIN_EXTERNAL_PREINSTALLED=y
BR2_TOOLCHAIN_EXTERNAL_PATH="$cache/toolchain"
BR2_TOOLCHAIN_EXTERNAL_CUSTOM_PREFIX="aarch64-linux-gnu"
BR2_TOOLCHAIN_EXTERNAL_GCC_12=y
BR2_TOOLCHAIN_EXTERNAL_HEADERS_6_1=y
BR2_TOOLCHAIN_EXTERNAL_CUSTOM_GLIBC=y
BR2_TOOLCHAIN_EXTERNAL_CXX=y
BR2_TOOLCHAIN_EXTERNAL_OPENMP=y
# BR2_TOOLCHAIN_EXTERNAL_INET_RPC is not set
# BR2_TARGET_ROOTFS_TAR is not set
BR2_PACKAGE_PIXVANE=y
EOF2
    printf '%s\n' "$@"
}

br_make() { # OUT ARG...
    local out=$1
    shift
    FORCE_UNSAFE_CONFIGURE=1 nice make -C "$cache/buildroot-$br_version" O="$out" \
        BR2_EXTERNAL="$project/buildroot" BR2_JLEVEL="$(nproc)" "$@"
}

# br_configure OUT LINE...: the configuration of OUT, from the shared lines
# and LINEs; fails when Buildroot dropped one of them (a dependency missing).
br_configure() {
    local out=$1 line
    shift
    mkdir -p "$out"
    br_defconfig "$@" >"$out/pixvane_defconfig"
    br_make "$out" BR2_DEFCONFIG="$out/pixvane_defconfig" defconfig >/dev/null
    while read -r line; do
        [[ $line == \#* ]] || grep -qxF -- "$line" "$out/.config" || die "Buildroot dropped '$line' from $out/.config"
    done <"$out/pixvane_defconfig"
    local p
    for p in "${!host_sources[@]}"; do
        echo "${host_sources[$p]}_OVERRIDE_SRCDIR = $cache/src/$p"
    done >"$out/local.mk"
}

# What a build's output depends on, as one checksum: Buildroot, the host
# sources, the toolchain, the runner's build code and the checkout's files
# but those a build with BUILD_TESTING off does not read (tests/, CI, README).
build_key() {
    {
        cat "$cache/buildroot-$br_version/.pixvane-ready" "$cache/src/.pixvane-ready" \
            "$cache/toolchain/.pixvane-ready" "$here/run.d/image.sh" "$here/run.d/prepare.sh"
        (cd "$project" && git ls-files -co --exclude-standard -z -- . ':!build' ':!tests' ':!.ci' ':!README.md' |
            xargs -0 sha256sum 2>/dev/null)
    } | sha256sum | cut -d' ' -f1
}

# The busybox images: devtmpfs (Buildroot's default /dev) first, its target/
# kept as images/devtmpfs; then the same output switched to mdev, busybox
# reconfigured (which installs S10mdev and mdev.conf), kept as images/mdev.
# Reused whole while the key holds; built again from nothing when it changes.
build_busybox_images() {
    local out=$cache/out-busybox key start=$SECONDS
    key=$(build_key)
    if [[ -f $out/.pixvane-key && $(cat "$out/.pixvane-key") == "$key" &&
        -d $cache/images/devtmpfs && -d $cache/images/mdev ]]; then
        note "busybox images: reused (key ${key:0:12})"
        return
    fi
    rm -rf "$out" "$cache/images/devtmpfs" "$cache/images/mdev"
    mkdir -p "$cache/images"
    br_configure "$out" BR2_INIT_BUSYBOX=y BR2_ROOTFS_DEVICE_CREATION_DYNAMIC_DEVTMPFS=y \
        BR2_PACKAGE_PIXVANE_BOOT_BPP=16
    br_make "$out" >"$out/build-devtmpfs.log" 2>&1 || die "the devtmpfs image failed to build (log: $out/build-devtmpfs.log)"
    cp -a "$out/target" "$cache/images/devtmpfs"
    note "devtmpfs image built in $((SECONDS - start)) s"
    start=$SECONDS
    br_configure "$out" BR2_INIT_BUSYBOX=y BR2_ROOTFS_DEVICE_CREATION_DYNAMIC_MDEV=y \
        BR2_PACKAGE_PIXVANE_BOOT_BPP=16
    { br_make "$out" busybox-reconfigure && br_make "$out"; } >"$out/build-mdev.log" 2>&1 ||
        die "the mdev image failed to build (log: $out/build-mdev.log)"
    cp -a "$out/target" "$cache/images/mdev"
    note "mdev image built in $((SECONDS - start)) s"
    echo "$key" >"$out/.pixvane-key"
}

# With systemd as init, only the package and what it depends on: systemd
# itself needs downloads. Its target/ is then only pixvane's, the skeleton's
# and the toolchain's.
build_systemd_package() {
    local out=$cache/out-systemd key start=$SECONDS
    key=$(build_key)
    if [[ -f $out/.pixvane-key && $(cat "$out/.pixvane-key") == "$key" ]]; then
        note "systemd package: reused (key ${key:0:12})"
        return
    fi
    rm -rf "$out"
    br_configure "$out" BR2_INIT_SYSTEMD=y BR2_PACKAGE_PIXVANE_BOOT_BPP=16
    br_make "$out" pixvane >"$out/build.log" 2>&1 || die "make pixvane with systemd failed (log: $out/build.log)"
    note "systemd package built in $((SECONDS - start)) s"
    echo "$key" >"$out/.pixvane-key"
}
