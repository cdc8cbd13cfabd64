# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: the Debian root file system the systemd boots start from, kept as a
# tar archive in the cache and made again when what it is made from changes.
# Sourced by the runner, which defines die, note, here and the cache paths.

# What the root is made of. Changing any of it, or the machine's apt
# sources, makes a new root on the next prepare.
rootfs_suite=bookworm
rootfs_packages=systemd,systemd-sysv,udev,kmod
# Documentation and translations are of no use in a VM that lives for 30 s,
# and leave out a third of the archive that every boot packs and loads.
rootfs_dpkgopts=(
    'path-exclude=/usr/share/doc/*'
    'path-exclude=/usr/share/man/*'
    'path-exclude=/usr/share/locale/*'
    'path-exclude=/usr/share/info/*'
)

# The machine's own apt sources: the registry it can reach. Files that are
# switched off (another suffix) are not sources to apt either.
rootfs_sources() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [[ -s $f ]] && echo "$f"
    done
    return 0
}

# One line that changes whenever the root would come out otherwise.
rootfs_key() {
    local f
    {
        echo "layout=$boot_cache_layout suite=$rootfs_suite variant=minbase include=$rootfs_packages"
        printf 'dpkgopt=%s\n' "${rootfs_dpkgopts[@]}"
        while IFS= read -r f; do
            echo "source $f $(sha256sum <"$f" | cut -d' ' -f1)"
        done < <(rootfs_sources)
    } | sha256sum | cut -d' ' -f1
}

rootfs_ready() {
    [[ -f $boot_cache/rootfs.key && $(cat "$boot_cache/rootfs.key") == "$(rootfs_key)" &&
        -f $boot_cache/rootfs.sha256 && -s $boot_cache/rootfs.tar ]] || return 1
    # Size first: a copy cut short is the usual damage, and checking it is free.
    [[ $(stat -c %s "$boot_cache/rootfs.tar") == "$(cut -d' ' -f2 "$boot_cache/rootfs.sha256")" ]]
}

# Builds the root into the cache unless the one there was made from the same
# inputs. The key is removed first and written last, so that a build killed
# halfway is never taken for a complete one.
rootfs_prepare() {
    local -a sources opts=()
    local o start=$SECONDS
    mkdir -p "$boot_cache"
    exec {rootfs_lock}>"$boot_cache/.lock"
    flock -x "$rootfs_lock"
    # Each boot checks the archive's size; prepare checks its checksum too.
    if rootfs_ready; then
        if [[ $(sha256sum <"$boot_cache/rootfs.tar" | cut -d' ' -f1) == "$(cut -d' ' -f1 "$boot_cache/rootfs.sha256")" ]]; then
            note "root file system: reused ($boot_cache/rootfs.tar, $(cat "$boot_cache/rootfs.packages"))"
            return 0
        fi
        note "root file system: $boot_cache/rootfs.tar has changed (its checksum differs); building it again"
    elif [[ -e $boot_cache/rootfs.tar ]]; then
        note "root file system: the one in the cache is incomplete or made from other inputs; building it again"
    fi
    mapfile -t sources < <(rootfs_sources)
    ((${#sources[@]})) || die "no apt sources on this machine to build the root file system from"
    for o in "${rootfs_dpkgopts[@]}"; do opts+=(--dpkgopt="$o"); done
    rm -f "$boot_cache/rootfs.key"
    note "root file system: building with mmdebstrap ($rootfs_suite, $rootfs_packages)"
    mmdebstrap --quiet --format=tar --variant=minbase --include="$rootfs_packages" "${opts[@]}" \
        "$rootfs_suite" "$boot_cache/rootfs.tar.tmp" "${sources[@]}" ||
        die "mmdebstrap could not build the root file system"
    mv "$boot_cache/rootfs.tar.tmp" "$boot_cache/rootfs.tar"
    printf '%s %s\n' "$(sha256sum <"$boot_cache/rootfs.tar" | cut -d' ' -f1)" \
        "$(stat -c %s "$boot_cache/rootfs.tar")" >"$boot_cache/rootfs.sha256"
    # What went in, for the log of every later run.
    tar -xOf "$boot_cache/rootfs.tar" ./var/lib/dpkg/status |
        awk '$1 == "Package:" { p = $2 } $1 == "Version:" && (p == "systemd" || p == "udev") { print p, $2 }' |
        paste -sd, >"$boot_cache/rootfs.packages"
    rootfs_key >"$boot_cache/rootfs.key"
    note "root file system: built in $((SECONDS - start)) s ($(cat "$boot_cache/rootfs.packages"))"
}
