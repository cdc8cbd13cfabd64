# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: which kernel version to fetch: the newest one offered complete.
# Sourced by fbvm, which defines die, note, vm_apt and the facts of arch_init.
#
# A registry updates one architecture's index before another's, so the newest
# kernel of the VM's architecture may be there while the host's kbuild tools
# at that version are not yet. Everything one kernel needs must come at one
# version: the image, and where vfb.ko is built, its headers, their common
# part, the host's kbuild tools and the source.

# "IMAGE-PACKAGE VERSION" lines, newest first: the versions of the pinned
# image package, or the images that the versions of the meta package name.
kernel_candidates() {
    local pin=${PIXVANE_FBVM_KERNEL_PKG:-}
    if [[ -n $pin ]]; then
        vm_apt apt_cache show "$pin:$deb_arch" 2>/dev/null |
            awk -v p="$pin" '$1 == "Version:" { print p, $2 }'
        return 0
    fi
    # Each version of the meta package depends on one image at one version.
    vm_apt apt_cache show "$kernel_meta:$deb_arch" 2>/dev/null | awk '
        $1 == "Version:" { v = $2 }
        $1 == "Depends:" {
            if (match($0, /linux-image-[^ ,:(]+ \(= [^)]+\)/)) {
                split(substr($0, RSTART, RLENGTH), f, /[ ()=]+/)
                print f[1], f[2]
            } else if (match($0, /linux-image-[^ ,:(]+/)) {
                print substr($0, RSTART, RLENGTH), v
            }
        }' | awk '!seen[$0]++'
}

# The packages, as name:arch=version, that kernel image $1 at version $2
# needs fetched.
kernel_set() {
    local img=$1 version=$2 release abi series
    release=${img#linux-image-}
    echo "$img:$deb_arch=$version"
    ((vfb_build)) || return 0
    abi=${release%-*}
    series=$(cut -d. -f1,2 <<<"$release")
    echo "linux-headers-$release:$deb_arch=$version"
    echo "linux-headers-$abi-common:all=$version"
    echo "linux-kbuild-$series:$host_arch=$version"
    echo "linux-source-$series:all=$version"
}

# Sets kernel_pkg, kernel_version and kernel_debs (what to fetch) to the
# newest complete set; says which when it is not the newest kernel offered,
# and dies naming what is missing when no set is complete.
select_kernel() {
    local -a cands set names missing tried=()
    local c img version offered p newest=""
    # Here rather than in the queries below, whose stderr is apt-cache's.
    vm_apt apt_ready || die "no index of the VM's packages to choose a kernel from"
    mapfile -t cands < <(kernel_candidates)
    ((${#cands[@]})) || die "no kernel package ${PIXVANE_FBVM_KERNEL_PKG:-$kernel_meta}:$deb_arch is offered"
    for c in "${cands[@]}"; do
        img=${c% *} version=${c#* }
        mapfile -t set < <(kernel_set "$img" "$version")
        names=("${set[@]%=*}")
        # What the indexes offer of these names, as name:arch=version.
        offered=$(vm_apt apt_cache show "${names[@]/%:all/}" 2>/dev/null | awk '
            $1 == "Package:" { p = $2 }
            $1 == "Version:" { v = $2 }
            $1 == "Architecture:" { print p ":" $2 "=" v }')
        missing=()
        for p in "${set[@]}"; do
            grep -qxF -- "$p" <<<"$offered" || missing+=("$p")
        done
        if ((${#missing[@]} == 0)); then
            kernel_pkg=$img kernel_version=$version
            kernel_debs=("${set[@]/:all=/=}")
            [[ -z $newest ]] ||
                note "kernel $newest is not offered complete (${tried[0]}); using $img $version, the newest version offered with all it needs"
            return 0
        fi
        [[ -n $newest ]] || newest="$img $version"
        tried+=("$version lacks ${missing[*]}")
    done
    die "no kernel version for $deb_arch is offered with all it needs: $(printf '%s; ' "${tried[@]}" | sed 's/; $//')"
}
