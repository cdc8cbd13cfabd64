# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: run one VM, and the demo.
# Sourced by fbvm.

shq() { # single-quotes $1 for sh
    local s=${1//\'/\'\\\'\'}
    printf "'%s'" "$s"
}

check_binary() {
    [[ -f "$bin" ]] || die "no such file: $bin"
    local hdr
    hdr=$(readelf -hlW "$bin" 2>/dev/null) || die "$bin is not an ELF executable"
    grep -q "Machine: *$elf_machine\$" <<<"$hdr" ||
        die "$bin is not a $arch executable"
    if grep -q 'Requesting program interpreter' <<<"$hdr"; then
        die "$bin is dynamically linked; the VM has no C library, link it statically"
    fi
}

result_files=(stdout stderr status var.before var fix.before fix mem vm.log
    setup.out setup.status console.log)

# Sets the run's options from its arguments, and the program's arguments
# into prog_args; dies on a usage error.
run_args() {
    local a
    prefill="" setup="" node=1 devtmpfs=1 vfb_args="vfb_enable=1 mode_option=640x480-16"
    files=() bin="" out="" driver="" drm="" dtb=""
    platform_args "$@"
    value_opts dtb=dtb bin=bin out=out prefill=prefill setup=setup -- "${rest[@]}"
    set -- "${rest[@]}"
    while (($#)); do
        case "$1" in
        --vfb) vfb_args=${2:?--vfb needs a value}; driver=vfb; shift 2 ;;
        --no-vfb) driver=none; shift ;;
        --drm) driver=drm drm=virtio-gpu; shift ;;
        --drm=*) driver=drm drm=${1#--drm=}; shift ;;
        --no-node) node=0; shift ;;
        --no-devtmpfs) devtmpfs=0; shift ;;
        --file) files+=("${2:?--file needs SRC=DST}"); shift 2 ;;
        --) shift; break ;;
        *) usage_error "run: unknown option $1" ;;
        esac
    done
    prog_args=("$@")
    [[ -n "$bin" ]] || usage_error "run: --bin is required"
    [[ -n "$out" ]] || usage_error "run: --out is required"
    if [[ "$prefill" =~ ^0[xX]([0-9a-fA-F]{1,2})$ ]]; then
        prefill=$((16#${BASH_REMATCH[1]}))
    elif [[ "$prefill" =~ ^[0-9]{1,3}$ ]] && ((10#$prefill <= 255)); then
        prefill=$((10#$prefill))
    elif [[ -n "$prefill" ]]; then
        usage_error "run: --prefill wants a byte value (0-255 or 0x00-0xff), not $prefill"
    fi
    for a in "${files[@]}"; do
        [[ "$a" == *=/* ]] || usage_error "run: --file wants SRC=/absolute/dst, not $a"
    done
    platform_init "$arch_opt" "$board_opt"
    if [[ $driver == drm && -z "${drm_modules[$drm]:-}" ]]; then
        usage_error "run: no DRM driver $drm on $board $arch (there are: ${drm_drivers[*]:-none})"
    fi
    if [[ $fb_driver == builtin && ( $driver == vfb || $driver == none ) ]]; then
        usage_error "run: the $board board's framebuffer driver is built into its kernel: no --vfb, no --no-vfb"
    fi
    [[ -n $driver ]] || driver=$fb_driver
    if ((${#board_dtbs[@]})); then
        [[ -n $dtb ]] || dtb=${board_dtbs[0]}
        [[ " ${board_dtbs[*]} " == *" $dtb "* ]] ||
            usage_error "run: no device tree $dtb for $board (there are: ${board_dtbs[*]})"
    elif [[ -n $dtb ]]; then
        usage_error "run: the $board board takes no --dtb"
    fi
}

# The run's own initramfs part: vm-init, the program, its arguments and the
# run's settings, --setup and the --file copies; then the whole initramfs,
# the cache's parts first, as $tmp/initrd. Sets mark, the results' marker.
run_initrd() {
    local root=$tmp/root f
    mkdir -p "$root/fbvm"
    install -m 0755 "$here/vm-init" "$root/init"
    install -m 0755 "$bin" "$root/fbvm/bin"
    mark="fbvm-results-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
    {
        echo "FBVM_MARK=$(shq "$mark")"
        echo "FBVM_DRIVER=$driver"
        echo "FBVM_VFB_ARGS=$(shq "$vfb_args")"
        echo "FBVM_PREFILL=$prefill"
        echo "FBVM_NODE=$node"
        echo "FBVM_DEVTMPFS=$devtmpfs"
    } >"$root/fbvm/conf"
    {
        printf 'set --'
        for f in "${prog_args[@]}"; do printf ' %s' "$(shq "$f")"; done
        printf '\n'
    } >"$root/fbvm/args"
    if [[ -n "$setup" ]]; then
        printf '%s\n' "$setup" >"$root/fbvm/setup"
    fi
    for f in "${files[@]}"; do
        mkdir -p "$root$(dirname "${f#*=}")"
        cp -p "${f%%=*}" "$root${f#*=}"
    done
    pack_initramfs --as-root "$root" "$tmp/run.cpio"
    local -a parts=("$cache/base.cpio")
    [[ $driver != drm ]] || parts+=("$cache/drm-$drm.cpio")
    cat "${parts[@]}" "$tmp/run.cpio" >"$tmp/initrd"
}

# The results the VM wrote between its markers on the console, unpacked
# into $out.
run_results() {
    awk -v m="$mark" '
        $0 == m " begin" { on = 1; next }
        $0 == m " end" { done = 1; exit }
        on { print }
        END { exit done ? 0 : 1 }' "$out/console.log" >"$tmp/results.b64" || {
        tail -n 20 "$out/console.log" >&2 || true
        die "the VM produced no results (console: $out/console.log)"
    }
    base64 -d "$tmp/results.b64" | gzip -dc | tar -x -m -C "$out" ||
        die "the VM's results arrived damaged (console: $out/console.log)"
    [[ -f "$out/status" ]] || die "the VM did not run $bin (see $out/vm.log)"
}

cmd_run() {
    local timeout_s prefill setup node devtmpfs vfb_args f
    local -a files prog_args
    run_args "$@"
    ensure_host_tools
    check_binary
    use_cache
    scratch fbvm
    run_initrd
    mkdir -p "$out"
    for f in "${result_files[@]}"; do rm -f "${out:?}/$f"; done
    qemu_launch "$tmp/initrd" "$timeout_s" "$out/console.log"
    run_results
}

cmd_demo() {
    local b=""
    platform_args "$@"
    value_opts bin=b -- "${rest[@]}"
    set -- "${rest[@]}"
    [[ ${1:-} != -- ]] || shift
    [[ ${1:-} != -* ]] || usage_error "demo: unknown option $1"
    [[ -n "$b" ]] || usage_error "demo: --bin is required"
    platform_init "$arch_opt" "$board_opt"
    local dir where
    scratch fbvm
    dir=$tmp/out
    local -a how=(--arch "$arch")
    where="vfb 640x480-16 in an $arch VM"
    if [[ $board != virt ]]; then
        how=(--board "$board")
        where="the kernel's own framebuffer driver on $board ($arch)"
    fi
    if [[ $fb_driver == vfb ]]; then
        how+=(--vfb "vfb_enable=1 mode_option=640x480-16")
        [[ $board == virt ]] || where="vfb 640x480-16 on $board ($arch)"
    fi
    "$0" run "${how[@]}" --bin "$b" --out "$dir" -- "$@"
    local shown="${b##*/}"
    for arg in "$@"; do
        if [[ "$arg" =~ ^[A-Za-z0-9._/+-]+$ ]]; then shown+=" $arg"; else shown+=" $(shq "$arg")"; fi
    done
    echo "$where; running: $shown"
    echo "mode before: $(describe_mode "$dir/var.before")"
    echo "----- output -----"
    cat "$dir/stdout"
    if [[ -s "$dir/stderr" ]]; then
        echo "----- standard error -----"
        cat "$dir/stderr"
    fi
    echo "------------------"
    echo "exit status: $(cat "$dir/status")"
    echo "mode after:  $(describe_mode "$dir/var")"
}

describe_mode() {
    awk -F= '{ v[$1] = $2 }
        END { printf "%sx%s, %s bits per pixel (virtual %sx%s)\n",
              v["xres"], v["yres"], v["bits_per_pixel"],
              v["xres_virtual"], v["yres_virtual"] }' "$1"
}

