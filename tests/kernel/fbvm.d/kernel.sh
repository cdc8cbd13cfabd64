# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: the kernel, its modules (vfb.ko built where the kernel lacks it) and busybox.
# Sourced by fbvm.
# The package carries no modules.dep (depmod makes it at install time), so
# dependencies come from each module's own "depends=" entry.
module_depends() {
    readelf -p .modinfo "$1" 2>/dev/null |
        sed -n 's/^ *\[ *[0-9a-f]*\]  depends=//p' | tr ',' ' '
}

# Appends to $order the paths of the module called $1 and of all that it
# needs, dependencies first; what the kernel has built in needs no loading.
resolve_module() {
    local name=${1//-/_} path dep
    [[ -n "${module_builtin[$name]:-}" ]] && return 0
    path=${module_path[$name]:-}
    [[ -n "$path" ]] || die "module $1 is not in this kernel"
    [[ " ${order[*]} " == *" $path "* ]] && return 0
    for dep in $(module_depends "$path"); do
        resolve_module "$dep"
    done
    order+=("$path")
}

# Builds vfb.ko for the kernel release $2 in $1/vfb, out
# of tree: vfb.c from linux-source, and the kernel's headers with their
# common part and the host's kbuild tools. Only vfb.c is taken from the
# source, since the headers carry the configuration and symbol versions
# the module must match.
build_vfb() {
    local work=$1 release=$2
    local series kroot=$work/kroot hdr
    series=$(cut -d. -f1,2 <<<"$release")
    [[ $kroot != *[[:space:]]* ]] || die "kbuild cannot work under a path with spaces: $kroot"
    note "building vfb.ko for $release"
    mkdir -p "$work/src" "$kroot" "$work/vfb"
    # select_kernel chose them at the image's version.
    (cd "$work/src" && vm_apt_download "${kernel_debs[@]:1}")
    local deb
    for deb in "$work"/src/linux-headers-*.deb "$work"/src/linux-kbuild-*.deb; do
        dpkg-deb -x "$deb" "$kroot"
    done
    # The flavour's Makefile includes the common one by its installed path.
    hdr=$kroot/usr/src/linux-headers-$release
    grep -q '^include /usr/src/' "$hdr/Makefile" ||
        die "$hdr/Makefile does not include the common headers as expected"
    sed -i "s#^include /usr/src/#include $kroot/usr/src/#" "$hdr/Makefile"

    dpkg-deb --fsys-tarfile "$work"/src/linux-source-*.deb |
        tar -xO "./usr/src/linux-source-$series.tar.xz" | xz -dc |
        tar -x -C "$work/vfb" --strip-components=4 "linux-source-$series/drivers/video/fbdev/vfb.c" ||
        die "no drivers/video/fbdev/vfb.c in linux-source-$series"
    echo 'obj-m := vfb.o' >"$work/vfb/Kbuild"
    make -C "$hdr" M="$work/vfb" ARCH="$kbuild_arch" CROSS_COMPILE="$cross_compile" \
        modules >"$work/vfb/build.log" 2>&1 || {
        cat "$work/vfb/build.log" >&2
        die "building vfb.ko failed"
    }
    readelf -p .modinfo "$work/vfb/vfb.ko" | grep -q " vermagic=$release " ||
        die "the vfb.ko built does not match $release"
    rm -rf "$kroot" "$work/src"
}

fetch_kernel() {
    local work=$1 pkg deb vmlinuz m version release
    # Old lists may name versions the registry has dropped since.
    if [[ -d "$cache/apt/lists" && -z $(find "$cache/apt/updated" -mtime -1 2>/dev/null) ]]; then
        vm_apt_update
    fi
    select_kernel
    pkg=$kernel_pkg
    note "fetching $pkg:$deb_arch=$kernel_version"
    (cd "$work" && vm_apt_download "${kernel_debs[0]}")
    deb=$(find "$work" -maxdepth 1 -name "${pkg}_*.deb" | head -n1)
    [[ -n "$deb" ]] || die "apt-get download $pkg:$deb_arch left no package"
    version=$(dpkg-deb -f "$deb" Version)
    dpkg-deb -x "$deb" "$work/root"
    rm -f "$deb"
    vmlinuz=$(find "$work/root/boot" -name 'vmlinuz-*' | head -n1)
    [[ -n "$vmlinuz" ]] || die "$pkg holds no vmlinuz"
    moddir=$(find "$work/root/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n1)
    [[ -n "$moddir" ]] || die "$pkg holds no modules"
    release=${moddir##*/}
    declare -gA module_path=() module_builtin=()
    local ko name
    while IFS= read -r ko; do
        name=${ko##*/}
        name=${name%.ko}
        module_path[${name//-/_}]=$moddir/$ko
    done < <(cd "$moddir" && find . -name '*.ko' -printf '%P\n')
    while IFS= read -r ko; do
        name=${ko##*/}
        name=${name%.ko}
        module_builtin[${name//-/_}]=1
    done <"$moddir/modules.builtin"

    mkdir -p "$work/kernel/modules"
    "$boot_image_from_package" "$vmlinuz" "$work/kernel/image"
    if [[ -n $board_dtb_stock ]]; then
        take_stock_dtb "$work/root" "$work/kernel/stock.dtb"
    fi
    if ((vfb_build)); then
        build_vfb "$work" "$release"
        module_path[vfb]=$work/vfb/vfb.ko
    fi
    # Only the modules the VM loads are kept; the package is 400 MB unpacked.
    # Each driver gets the list of its modules in loading order.
    local d
    local -a keep=()
    if [[ $fb_driver == vfb ]]; then
        order=()
        resolve_module vfb
        printf '%s\n' "${order[@]##*/}" >"$work/kernel/vfb.order"
        keep+=("${order[@]}")
    fi
    for d in "${drm_drivers[@]}"; do
        order=()
        # shellcheck disable=SC2086 # a list of module names
        for m in ${drm_modules[$d]}; do resolve_module "$m"; done
        printf '%s\n' "${order[@]##*/}" >"$work/kernel/drm-$d.order"
        keep+=("${order[@]}")
    done
    if ((${#keep[@]})); then
        mapfile -t keep < <(printf '%s\n' "${keep[@]}" | sort -u)
        cp "${keep[@]}" "$work/kernel/modules/"
    fi
    echo "$cache_layout" >"$work/kernel/layout"
    echo "$pkg $version" >"$work/kernel/package"
    printf '%s\n' "${kernel_debs[@]}" >"$work/kernel/packages"
    echo "$release" >"$work/kernel/release"
    rm -rf "$cache/kernel"
    mv "$work/kernel" "$cache/kernel"
}

fetch_busybox() {
    local work=$1
    note "fetching busybox-static:$deb_arch"
    (cd "$work" && vm_apt_download "busybox-static:$deb_arch")
    dpkg-deb -x "$work"/busybox-static_*.deb "$work/bb"
    [[ -x "$work/bb/bin/busybox" ]] || die "busybox-static holds no bin/busybox"
    dpkg-deb -f "$work"/busybox-static_*.deb Package Version | sed 's/^[^:]*: //' |
        paste -sd' ' >"$cache/busybox.package"
    mv "$work/bb/bin/busybox" "$cache/busybox"
}

