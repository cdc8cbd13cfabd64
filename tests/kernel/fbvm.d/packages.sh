# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: host packages and the VM's packages, through apt.
# Sourced by fbvm, which defines die, note, usage_error, here and prog.
# ---------------------------------------------------------------------------
# Host packages

apt_updated=0
apt_update_once() {
    if ((apt_updated == 0)); then
        note "apt-get update"
        apt-get update -qq >&2 || die "apt-get update failed"
        apt_updated=1
    fi
}

apt_install() {
    [[ $(id -u) == 0 ]] || die "missing host packages: $* (install them as root)"
    apt_update_once
    note "installing $*"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "$@" >&2 || die "apt-get install $* failed"
}

ensure_host_tools() {
    local missing=() tool
    local -A tools=([cpio]=cpio [xz]=xz-utils [gzip]=gzip [base64]=coreutils
        [timeout]=coreutils [flock]=util-linux [dpkg-deb]=dpkg [od]=coreutils
        [readelf]=binutils [sha256sum]=coreutils)
    tools[$qemu_bin]=$qemu_pkg
    if ((vfb_build)); then
        tools[make]="make"
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
        apt_install "${missing[@]}"
    fi
}

# The VM's packages: through the runner's own apt state ($vm_apt_opts), which
# is updated on first use, on --refresh, and when its lists turn out stale.
vm_apt_updated=0
vm_apt_update() {
    note "apt-get update (the runner's own lists for $deb_arch)"
    mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
    apt-get -qq "${vm_apt_opts[@]}" update >&2 || die "apt-get update for $deb_arch failed"
    vm_apt_updated=1
}

vm_apt_ready() {
    if ((vm_apt_updated == 0)) && ! compgen -G "$cache/apt/lists/*_Packages*" >/dev/null; then
        vm_apt_update
    fi
}

# Downloads the .debs of the packages $@ (name:arch or name:arch=version)
# into the current directory.
vm_apt_download() {
    vm_apt_ready
    if ! apt-get download -qq "${vm_apt_opts[@]}" "$@" >&2; then
        ((vm_apt_updated)) && die "apt-get download $* failed"
        vm_apt_update
        apt-get download -qq "${vm_apt_opts[@]}" "$@" >&2 ||
            die "apt-get download $* failed"
    fi
}

kernel_package() {
    if [[ -n "${PIXVANE_FBVM_KERNEL_PKG:-}" ]]; then
        echo "$PIXVANE_FBVM_KERNEL_PKG"
        return
    fi
    # shellcheck disable=SC2016 # awk's own fields
    local pkg query='$1 == "Depends:" && $2 ~ /^linux-image-/ { sub(/:.*/, "", $2); print $2; exit }'
    vm_apt_ready
    pkg=$(apt-cache "${vm_apt_opts[@]}" depends "$kernel_meta:$deb_arch" 2>/dev/null | awk "$query")
    if [[ -z "$pkg" ]] && ((vm_apt_updated == 0)); then
        vm_apt_update
        pkg=$(apt-cache "${vm_apt_opts[@]}" depends "$kernel_meta:$deb_arch" 2>/dev/null |
            awk "$query")
    fi
    [[ -n "$pkg" ]] || die "cannot tell which kernel $kernel_meta:$deb_arch depends on"
    echo "$pkg"
}

