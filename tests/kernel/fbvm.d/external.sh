# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: what other runners ask fbvm for: paths in the prepared cache, an
# initramfs packed, and a boot of their own initramfs on the board's VM.
# Sourced by fbvm.

# fbvm path [--arch ARCH | --board BOARD] WHAT
cmd_path() {
    platform_args "$@"
    ((${#rest[@]} == 1)) || usage_error "path: one of kernel, vfb, modules, release, busybox, apt, cache"
    platform_init "$arch_opt" "$board_opt"
    case "${rest[0]}" in
    kernel | vfb | modules | release | busybox) use_cache ;;
    apt | cache) ;;
    *) usage_error "path: unknown argument ${rest[0]}" ;;
    esac
    case "${rest[0]}" in
    kernel) echo "$cache/kernel/image" ;;
    vfb) echo "$cache/kernel/modules/vfb.ko" ;;
    modules) sed "s#^#$cache/kernel/modules/#" "$cache/kernel/vfb.order" ;;
    release) cat "$cache/kernel/release" ;;
    busybox) echo "$cache/busybox" ;;
    apt) echo "$cache/apt" ;;
    cache) echo "$cache" ;;
    esac
}

# fbvm pack ROOT ARCHIVE
cmd_pack() {
    (($# == 2)) || usage_error "pack: ROOT and ARCHIVE"
    pack_initramfs "$1" "$2"
}

# fbvm boot [--arch ARCH | --board BOARD] --initrd FILE --console FILE
#           [--serial FILE] [--memory SIZE] [--cmdline S] [--kernel-args S]
#           [--timeout SECS]
cmd_boot() {
    local initrd="" log="" serial="" qemu_mem_opt=""
    cmdline="" driver=vfb
    platform_args "$@"
    value_opts initrd=initrd console=log serial=serial memory=qemu_mem_opt cmdline=cmdline -- "${rest[@]}"
    ((${#rest[@]} == 0)) || usage_error "boot: unknown argument ${rest[0]}"
    [[ -f $initrd && -n $log ]] || usage_error "boot: --initrd FILE and --console FILE are required"
    platform_init "$arch_opt" "$board_opt"
    qemu_mem=${qemu_mem_opt:-$qemu_mem}
    use_cache
    ((${#board_dtbs[@]} == 0)) || dtb=${board_dtbs[0]}
    ensure_host_tools
    scratch fbvm
    ln -s "$(realpath "$initrd")" "$tmp/initrd"
    qemu_launch "$tmp/initrd" "$timeout_s" "$log" ${serial:+"$serial"}
}
