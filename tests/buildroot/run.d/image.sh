# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# buildroot: the Buildroot builds, their configurations, and the output kept
# in the cache between runs.
# Sourced by the runner, which sources the shell library and defines cache, project, br_version.

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
    FORCE_UNSAFE_CONFIGURE=1 make -C "$cache/buildroot-$br_version" O="$out" \
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

# Bumped when the builds below change what they do.
build_layout=1

# What a build's output depends on, as two checksums. base: Buildroot, the
# host sources, the toolchain and the configuration; a change builds
# everything again. tree: the checkout's files but those a build with
# BUILD_TESTING off does not read (tests/, CI, README); a change builds
# pixvane again.
build_key() {
    case "$1" in
    base)
        cat "$cache/buildroot-$br_version/.pixvane-ready" "$cache/src/.pixvane-ready" \
            "$cache/toolchain/.pixvane-ready"
        ls "$cache/src/dl"
        br_defconfig "$build_layout"
        ;;
    tree)
        (cd "$project" && git ls-files -co --exclude-standard -z -- . ':!build' ':!tests' ':!.ci' ':!README.md' ':!docs' |
            xargs -0 sha256sum 2>/dev/null)
        ;;
    esac | sha256sum | cut -d' ' -f1
}

# up_to_date OUT: says so when OUT was built from this base and tree; 1
# when only the tree changed; 2 when it must be built from nothing.
# The keys are taken before the build, so that an edit made while it runs
# is seen by the next run.
up_to_date() {
    base_key=$(build_key base) tree_key=$(build_key tree)
    [[ -f $1/.pixvane-base && $(cat "$1/.pixvane-base") == "$base_key" ]] || return 2
    [[ -f $1/.pixvane-tree && $(cat "$1/.pixvane-tree") == "$tree_key" ]] || return 1
}
keys_done() { echo "$base_key" >"$1/.pixvane-base" && echo "$tree_key" >"$1/.pixvane-tree"; }

# pixvane's files in OUT's target/, as Buildroot listed them when it
# installed the package.
pixvane_files() { { cat "$1"/build/pixvane-*/.files-list.txt 2>/dev/null || true; } | sed -n 's/^pixvane,\.\///p'; }

# pixvane_again OUT [TARGET]: the checkout or the configuration changed; its
# files leave OUT's target/ and TARGET (a file the new build no longer
# installs must not stay), and the package is built again.
pixvane_again() {
    local out=$1 d
    shift
    for d in "$out/target" "$@"; do
        [[ -d $d ]] || continue
        (cd "$d" && pixvane_files "$out" | while read -r f; do
            rm -f "$f"
            # Its own directories (usr/libexec/pixvane), not the shared ones.
            [[ ${f%/*} != *pixvane* || ! -d ${f%/*} ]] || rmdir --ignore-fail-on-non-empty "${f%/*}"
        done)
    done
    # Its build directory is named after the checkout's git describe, which
    # a commit changes: every one goes, not only the current one.
    rm -rf "$out"/build/pixvane-*
}

# The busybox images: devtmpfs (Buildroot's default /dev) first, its target/
# kept as images/devtmpfs; then the same output switched to mdev, busybox
# reconfigured (which installs S10mdev and mdev.conf), kept as images/mdev.
# When only the checkout changed, pixvane is built again in the output (now
# mdev) and its files replace the old ones in both images: nothing it
# installs depends on the /dev manager.
build_busybox_images() {
    local out=$cache/out-busybox state=0 start=$SECONDS
    up_to_date "$out" || state=$?
    [[ -d $cache/images/devtmpfs && -d $cache/images/mdev ]] || state=2
    case $state in
    0)
        note "busybox images: reused"
        return
        ;;
    1)
        pixvane_again "$out" "$cache/images/devtmpfs"
        br_make "$out" >"$out/build-again.log" 2>&1 || die "pixvane failed to build again (log: $out/build-again.log)"
        rm -rf "$cache/images/mdev" && cp -a "$out/target" "$cache/images/mdev"
        # What target-finalize removed (the documentation) is listed but gone.
        (cd "$out/target" && pixvane_files "$out" | while read -r f; do
            [[ ! -e $f && ! -L $f ]] || cp -a --parents "$f" "$cache/images/devtmpfs"
        done)
        note "busybox images: pixvane built again in $((SECONDS - start)) s"
        keys_done "$out"
        return
        ;;
    esac
    rm -rf "$out" "$cache/images/devtmpfs" "$cache/images/mdev"
    mkdir -p "$cache/images"
    br_configure "$out" BR2_INIT_BUSYBOX=y BR2_ROOTFS_DEVICE_CREATION_DYNAMIC_DEVTMPFS=y \
        BR2_PACKAGE_PIXVANE_BOOT=y BR2_PACKAGE_PIXVANE_BOOT_BPP=16
    br_make "$out" >"$out/build-devtmpfs.log" 2>&1 || die "the devtmpfs image failed to build (log: $out/build-devtmpfs.log)"
    cp -a "$out/target" "$cache/images/devtmpfs"
    note "devtmpfs image built in $((SECONDS - start)) s"
    start=$SECONDS
    br_configure "$out" BR2_INIT_BUSYBOX=y BR2_ROOTFS_DEVICE_CREATION_DYNAMIC_MDEV=y \
        BR2_PACKAGE_PIXVANE_BOOT=y BR2_PACKAGE_PIXVANE_BOOT_BPP=16
    { br_make "$out" busybox-reconfigure && br_make "$out"; } >"$out/build-mdev.log" 2>&1 ||
        die "the mdev image failed to build (log: $out/build-mdev.log)"
    cp -a "$out/target" "$cache/images/mdev"
    note "mdev image built in $((SECONDS - start)) s"
    keys_done "$out"
}

# host-tar takes minutes and comes out the same in every output here (Debian's
# source, the build machine's compiler, no option of the image; nothing of
# it points into the output but its locale directory), so a new output takes
# the busybox output's: its build directory with the stamps, and the files
# it installed, as Buildroot listed them.
seed_host_tar() { # FROM TO
    local from=$1 to=$2 d
    d=$(cd "$from/build" 2>/dev/null && echo host-tar-*)
    [[ -f $from/build/$d/.stamp_host_installed ]] || return 0
    mkdir -p "$to/build" "$to/host"
    cp -a "$from/build/$d" "$to/build/"
    (cd "$from/host" && sed -n 's/^host-tar,\.\///p' "$from/build/$d/.files-list-host.txt" |
        xargs -r cp -a --parents -t "$to/host")
}

# The package alone ("make pixvane"), built in one output once for each
# configuration below and its target/ kept as images/pkg-NAME: the files
# each init gets, by default and with a depth. Systemd itself needs
# downloads, so these targets hold only pixvane, the skeleton and the
# toolchain's libraries; switching init in one output is sound for that, as
# pixvane's old files leave target/ before each build.
# name | configuration lines
package_cases=(
    "busybox-default|BR2_INIT_BUSYBOX=y"
    "systemd-default|BR2_INIT_SYSTEMD=y"
    "systemd-16|BR2_INIT_SYSTEMD=y BR2_PACKAGE_PIXVANE_BOOT=y BR2_PACKAGE_PIXVANE_BOOT_BPP=16"
)

build_packages() {
    local out=$cache/out-pkg state=0 start=$SECONDS row name conf
    up_to_date "$out" || state=$?
    for row in "${package_cases[@]}"; do
        [[ -d $cache/images/pkg-${row%%|*} ]] || state=2
    done
    if ((state == 0)); then
        note "package builds: reused"
        return
    fi
    if ((state == 2)); then
        rm -rf "$out"
        mkdir -p "$out"
        seed_host_tar "$cache/out-busybox" "$out"
    fi
    for row in "${package_cases[@]}"; do
        IFS='|' read -r name conf <<<"$row"
        # shellcheck disable=SC2086 # one configuration line a word
        br_configure "$out" $conf
        pixvane_again "$out"
        br_make "$out" pixvane >"$out/build-$name.log" 2>&1 || die "make pixvane ($name) failed (log: $out/build-$name.log)"
        rm -rf "$cache/images/pkg-$name" && cp -a "$out/target" "$cache/images/pkg-$name"
    done
    note "package builds took $((SECONDS - start)) s"
    keys_done "$out"
}
