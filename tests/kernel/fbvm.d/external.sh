# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: what other runners take from fbvm: paths in the prepared cache, and
# a boot of their own initramfs on the architecture's VM.
# Sourced by fbvm, which defines die, note, usage_error, here and prog.

# Sets what both commands share from --arch/--board, prepares the cache if
# it is not usable and leaves it share-locked, as a run does.
external_init() {
    platform_init "$1" "$2"
    lock_cache -s
    if ! is_usable; then
        exec {lock_fd}>&-
        do_prepare 0
        flock -s "$lock_fd"
    fi
}

# fbvm path [--arch ARCH | --board BOARD] kernel|vfb|release
cmd_path() {
    local a="" b="" what=""
    while (($#)); do
        case "$1" in
        --arch) a=${2:?--arch needs a value}; shift 2 ;;
        --board) b=${2:?--board needs a value}; shift 2 ;;
        kernel | vfb | release) what=$1; shift ;;
        *) usage_error "path: unknown argument $1" ;;
        esac
    done
    [[ -n $what ]] || usage_error "path: kernel, vfb or release?"
    external_init "$a" "$b"
    case "$what" in
    kernel) echo "$cache/kernel/image" ;;
    vfb) echo "$cache/kernel/modules/vfb.ko" ;;
    release) cat "$cache/kernel/release" ;;
    esac
}

# fbvm boot [--arch ARCH | --board BOARD] --initrd FILE --console FILE
#           [--kernel-args S] [--timeout SECS]
# Boots FILE as the initramfs (rdinit=/init) under the machine's qemu
# command and writes the serial console to --console; the VM must power
# itself off.
cmd_boot() {
    local a="" b="" initrd="" log="" timeout_s=180 rc=0
    kernel_args="" driver=vfb
    while (($#)); do
        case "$1" in
        --arch) a=${2:?--arch needs a value}; shift 2 ;;
        --board) b=${2:?--board needs a value}; shift 2 ;;
        --initrd) initrd=${2:?--initrd needs a value}; shift 2 ;;
        --console) log=${2:?--console needs a value}; shift 2 ;;
        --kernel-args) kernel_args=${2?--kernel-args needs a value}; shift 2 ;;
        --timeout) timeout_s=${2:?--timeout needs a value}; shift 2 ;;
        *) usage_error "boot: unknown argument $1" ;;
        esac
    done
    [[ -f $initrd && -n $log ]] || usage_error "boot: --initrd FILE and --console FILE are required"
    external_init "$a" "$b"
    ((${#board_dtbs[@]} == 0)) || dtb=${board_dtbs[0]}
    ensure_host_tools
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/fbvm.XXXXXX")
    # shellcheck disable=SC2064 # expand now
    trap "rm -rf '$tmp'" EXIT
    ln -s "$(realpath "$initrd")" "$tmp/initrd"
    qemu_command "$tmp/console"
    timeout -k 5 "$timeout_s" "${qemu_cmd[@]}" </dev/null >"$tmp/qemu.out" 2>&1 || rc=$?
    tr -d '\r' <"$tmp/console" >"$log" || true
    ((rc != 124 && rc != 137)) || die "the VM did not power off within $timeout_s s (console: $log)"
    ((rc == 0)) || die "qemu failed with status $rc: $(cat "$tmp/qemu.out")"
}
