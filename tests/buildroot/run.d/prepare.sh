# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# buildroot: what every build starts from, kept in the cache: the unpacked
# Buildroot, Debian's sources of the host packages it would download, and
# Debian's cross toolchain as an external toolchain.
# Sourced by the runner, which sources the shell library and defines cache, trees, br_version.

# Debian source packages standing in for Buildroot's downloads, each given to
# Buildroot through <PKG>_OVERRIDE_SRCDIR (local.mk): Buildroot wants tar
# 1.35 (bookworm has 1.34), every cmake-package needs host-pkgconf, the
# final make host-patchelf, busybox init busybox.
declare -A host_sources=([tar]=HOST_TAR [pkgconf]=HOST_PKGCONF [patchelf]=HOST_PATCHELF
    [busybox]=BUSYBOX)

# Buildroot unpacked once, with one test of its toolchain check taken out:
# it refuses every compiler configured --with-sysroot=/, as Debian's cross
# compilers are, because a distribution's prebuilt libraries would clash with
# those Buildroot builds. The images here take only the C and C++ libraries
# from it, which is what an external toolchain gives anyway.
prepare_buildroot() {
    local sum dir=$cache/buildroot-$br_version
    sum=$(sha256sum <"$trees/buildroot-$br_version.tar.xz" | cut -d' ' -f1)
    [[ -f $dir/.pixvane-ready && $(cat "$dir/.pixvane-ready") == "$sum" ]] && return
    rm -rf "$dir"
    tar -xJf "$trees/buildroot-$br_version.tar.xz" -C "$cache"
    sed -i 's|if test "$${with_sysroot}"  = "/" ; then|if false ; then|' "$dir/toolchain/helpers.mk"
    grep -q 'if false ; then' "$dir/toolchain/helpers.mk" || die "Buildroot's distribution toolchain check was not found"
    echo "$sum" >"$dir/.pixvane-ready"
}

# The sources, through an apt state of the runner's own with deb-src lines
# made from the machine's deb ones; unpacked once per version.
prepare_host_sources() {
    local apt=$cache/apt src=$cache/src p list
    list=$(printf '%s\n' "${!host_sources[@]}" | sort)
    if [[ -f $src/.pixvane-ready && $(cat "$src/.pixvane-ready") == "$list" ]]; then return; fi
    rm -rf "$src" && mkdir -p "$apt/parts" "$apt/lists/partial" "$apt/cache/archives/partial" "$src/dl"
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null | sed 's/^Types: deb$/Types: deb-src/' >"$apt/parts/src.sources"
    grep -h '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' >"$apt/parts/src.list" || true
    local -a opts=(-q -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
        -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/parts" -o APT::Sandbox::User=root)
    apt-get "${opts[@]}" update >/dev/null || die "apt-get update of the source lists failed"
    (cd "$src/dl" && apt-get "${opts[@]}" source --download-only $list >/dev/null) ||
        die "could not download the Debian sources of: $list"
    for p in $list; do
        dpkg-source --no-check -x "$src"/dl/"${p}"_*.dsc "$src/$p" >/dev/null || die "could not unpack $p"
    done
    # Debian's patchelf source has no configure script; Buildroot's tarball does.
    (cd "$src/patchelf" && ./bootstrap.sh) >/dev/null 2>&1 || die "autoreconf of patchelf failed"
    echo "$list" >"$src/.pixvane-ready"
}

# Debian's aarch64-linux-gnu compilers, seen through a folder of the cache:
# a copy of their libraries and headers as a sysroot (Buildroot finds the
# sysroot from where gcc finds libc.a, and wants usr/include under it), and
# compiler drivers that look there first.
prepare_toolchain() {
    local tc=$cache/toolchain t n
    local stamp="$(aarch64-linux-gnu-gcc --version | head -n1) $(aarch64-linux-gnu-g++ --version | head -n1)"
    [[ -f $tc/.pixvane-ready && $(cat "$tc/.pixvane-ready") == "$stamp" ]] && return
    rm -rf "$tc" && mkdir -p "$tc/bin" "$tc/sysroot/usr"
    cp -a /usr/aarch64-linux-gnu/lib "$tc/sysroot/lib"
    cp -a /usr/aarch64-linux-gnu/include "$tc/sysroot/usr/include"
    ln -s ../lib "$tc/sysroot/usr/lib"
    for t in /usr/bin/aarch64-linux-gnu-*; do
        n=${t##*/}
        case $n in
        *-gcc | *-g++ | *-cpp | *-c++)
            printf '#!/bin/sh\nexec %s -B%s/ "$@"\n' "$t" "$tc/sysroot/lib" >"$tc/bin/$n"
            chmod 0755 "$tc/bin/$n"
            ;;
        *) ln -s "$t" "$tc/bin/$n" ;;
        esac
    done
    echo "$stamp" >"$tc/.pixvane-ready"
}

prepare_all() {
    scripts/bootstrap build-essential g++-aarch64-linux-gnu rsync cpio unzip bc file wget patch bzip2 perl \
        dpkg-dev autoconf automake qemu-system-arm kmod python3-magic python3-flake8 shellcheck >&2
    prepare_buildroot
    prepare_host_sources
    prepare_toolchain
}
