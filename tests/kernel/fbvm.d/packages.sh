# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: host packages and the VM's packages, through apt.
# Sourced by fbvm.

# Every Debian package comes through the project's one apt library.
apt_prog=$prog
# shellcheck source=../../../scripts/lib/apt.sh
. "$here/../../scripts/lib/apt.sh"

ensure_host_tools() {
    local missing=() tool
    local -A tools=([cpio]=cpio [xz]=xz-utils [gzip]=gzip [base64]=coreutils
        [timeout]=coreutils [flock]=util-linux [dpkg-deb]=dpkg [od]=coreutils
        [readelf]=binutils [sha256sum]=coreutils)
    tools[$qemu_bin]=$qemu_pkg
    if ((vfb_build)); then
        tools[make]="make"
    fi
    if ((${#board_dtbs[@]})); then
        tools[fdtput]=device-tree-compiler
        tools[fdtget]=device-tree-compiler
    fi
    for tool in "${!tools[@]}"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("${tools[$tool]}")
    done
    if ! command -v "$cc" >/dev/null 2>&1 ||
        [[ "$("$cc" -print-file-name=libc.a)" != /* ]]; then
        missing+=("${cc_pkgs[@]}")
    fi
    if ((${#missing[@]})); then
        mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
        apt_install "${missing[@]}" || die "cannot install the host packages ${missing[*]}"
    fi
}

# The VM's packages: through the runner's own apt state in $cache/apt,
# updated on first use, on --refresh, and when its lists turn out stale.
vm_apt() { # CMD [ARG...]: one apt library call on that state
    apt_private "$cache/apt" "$deb_arch" -- "$@"
}

vm_apt_update() {
    note "apt-get update (the runner's own lists for $deb_arch)"
    vm_apt apt_update || die "no index of the VM's packages to go on with"
}

# Downloads the .debs of the packages $@ (name:arch or name:arch=version)
# into the current directory.
vm_apt_download() {
    vm_apt apt_download "$@" || die "cannot fetch the VM's packages: $*"
}
