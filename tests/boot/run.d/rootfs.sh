# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: the Debian root file systems the systemd boots start from, one per
# suite, kept as tar archives in the cache and made again when what they are
# made from changes (scripts/lib/cache.sh keeps the key and the manifest).
# Sourced by the runner, which defines boot_cache and boot_cache_layout.

# What the boot root is made of. Changing any of it, or the machine's apt
# sources, makes a new root on the next prepare. rootfs_use picks the suite.
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

# rootfs_use SUITE [PACKAGES NAME]: the root the next calls build or read:
# SUITE's boot root, or a root of PACKAGES kept under NAME (the suite's
# lintian, which every boot would otherwise pack and load). Each root has a
# cache directory of its own.
rootfs_use() {
    rootfs_suite=$1
    rootfs_packages=${2:-$rootfs_packages}
    rootfs_cache=$boot_cache/${3:-$1}
}
rootfs_use bookworm

# The machine's own apt sources: the registry it can reach. Files that are
# switched off (another suffix) are not sources to apt either.
rootfs_sources() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [[ -s $f ]] && echo "$f"
    done
    return 0
}

# The suite's sources, one "deb URI SUITE main" line each: every Debian
# source of the machine for its own release (RELEASE, RELEASE-updates,
# RELEASE-security), with the suite put in place of the release; other
# registries are left out. Debian's suites share the registry's layout.
rootfs_host_release() { (. /etc/os-release && echo "${VERSION_CODENAME:-}"); }
rootfs_mirrors() {
    local host
    host=$(rootfs_host_release)
    [[ -n $host ]] || die "no VERSION_CODENAME in /etc/os-release"
    rootfs_sources | while IFS= read -r f; do cat "$f"; echo; done |
        awk -v host="$host" -v suite="$rootfs_suite" '
            function emit(uri, s) {
                if (s == host || s == host "-updates" || s == host "-security")
                    print "deb " uri " " suite substr(s, length(host) + 1) " main"
            }
            function flush(   i, j, u, w) {
                if (is_deb) {
                    nu = split(uris, u, " "); nw = split(suites, w, " ")
                    for (i = 1; i <= nu; i++) for (j = 1; j <= nw; j++) emit(u[i], w[j])
                }
                is_deb = 0; uris = ""; suites = ""
            }
            /^[ \t]*$/ { flush(); next }
            /^Types:/ { is_deb = ($0 ~ /[ \t]deb([ \t]|$)/) }
            /^URIs:/ { uris = substr($0, 6) }
            /^Suites:/ { suites = substr($0, 8) }
            $1 == "deb" { l = $0; gsub(/\[[^]]*\]/, "", l); split(l, a, " "); emit(a[2], a[3]) }
            END { flush() }' | sort -u
}

# One line that changes whenever the root would come out otherwise.
rootfs_key() {
    {
        echo "layout=$boot_cache_layout suite=$rootfs_suite variant=minbase include=$rootfs_packages"
        printf 'dpkgopt=%s\n' "${rootfs_dpkgopts[@]}"
        rootfs_mirrors
    } | sha256sum | cut -d' ' -f1
}

# Each boot checks the archive's size and time; prepare its checksum too.
rootfs_ready() { cache_valid "$rootfs_cache" "$(rootfs_key)" quick; }

# Builds the root into the cache unless the one there was made from the same
# inputs. The key is removed first and written last, so that a build killed
# halfway is never taken for a complete one.
rootfs_prepare() {
    local -a sources opts=()
    local o start=$SECONDS damage
    cache_lock "$rootfs_cache" -x
    if cache_ready "$rootfs_cache" "$(rootfs_key)"; then
        damage=$(cache_damage "$rootfs_cache" full)
        if [[ -z $damage ]]; then
            note "root file system: reused ($rootfs_cache/rootfs.tar: $(cat "$rootfs_cache/rootfs.packages"))"
            return 0
        fi
        note "root file system: ${damage//$'\n'/, } in $rootfs_cache; building it again"
    elif [[ -e $rootfs_cache/rootfs.tar ]]; then
        note "root file system: the one in the cache is incomplete or made from other inputs; building it again"
    fi
    mapfile -t sources < <(rootfs_mirrors)
    ((${#sources[@]})) || die "no Debian sources on this machine to build the $rootfs_suite root from"
    for o in "${rootfs_dpkgopts[@]}"; do opts+=(--dpkgopt="$o"); done
    cache_open "$rootfs_cache"
    note "root file system: building with mmdebstrap ($rootfs_suite, $rootfs_packages)"
    mmdebstrap --quiet --format=tar --variant=minbase --include="$rootfs_packages" "${opts[@]}" \
        "$rootfs_suite" "$rootfs_cache/rootfs.tar.tmp" "${sources[@]}" ||
        die "mmdebstrap could not build the root file system"
    mv "$rootfs_cache/rootfs.tar.tmp" "$rootfs_cache/rootfs.tar"
    # What went in, for the log of every later run, and whether /lib is
    # /usr/lib (merged /usr) or a directory of its own.
    {
        tar -xOf "$rootfs_cache/rootfs.tar" ./var/lib/dpkg/status |
            awk '$1 == "Package:" { p = $2 }
                $1 == "Version:" && (p == "systemd" || p == "udev" || p == "lintian") { print p, $2 }'
        if tar -tvf "$rootfs_cache/rootfs.tar" ./lib 2>/dev/null | grep -q '^l'; then
            echo "merged /usr"
        else
            echo "/lib apart from /usr/lib"
        fi
    } | paste -sd, >"$rootfs_cache/rootfs.packages"
    cache_seal "$rootfs_cache" "$(rootfs_key)" rootfs.tar rootfs.packages
    note "root file system: built in $((SECONDS - start)) s ($(cat "$rootfs_cache/rootfs.packages"))"
}
