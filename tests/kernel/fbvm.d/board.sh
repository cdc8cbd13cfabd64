# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: the boards. "virt" is qemu's generic board, for each architecture of
# arch.sh; the others are real machines that qemu emulates, each with the
# Debian kernel that drives it and a file board-NAME.sh of its own facts.
# Sourced by fbvm.
#
# A real board boots with a device tree from its kernel package, changed at
# prepare time by the board's recipe (board_NAME_dtb) where qemu's machine
# or the driver needs it. Each variant the board offers (board_dtbs, the
# default first) is a file dtb/VARIANT.dtb of the cache, with dtb/recipe
# holding the checksum of the board file that made them, so a changed recipe
# makes them again from the package's own DTB (kernel/stock.dtb).

boards=(virt vexpress raspi0)

# shellcheck source=board-vexpress.sh
. "$here/fbvm.d/board-vexpress.sh"
# shellcheck source=board-raspi0.sh
. "$here/fbvm.d/board-raspi0.sh"

# Sets every fact of board $2 (default virt); $1 is the architecture asked
# for, if any: virt needs one (default x86_64), the others have their own.
platform_init() {
    local a=$1 b=${2:-virt}
    case "$b" in
    virt)
        arch_init "${a:-x86_64}"
        ;;
    vexpress | raspi0)
        "board_${b}_init"
        [[ -z $a || $a == "$arch" ]] ||
            usage_error "the $b board runs $arch, not $a"
        cache=$cache_root/$b
        ;;
    *)
        usage_error "unknown board: $b (there are: ${boards[*]})"
        ;;
    esac
    board=$b
}

# platform_args ARGS...: --arch and --board into arch_opt and board_opt, and
# the VM's --kernel-args and --timeout (seconds, default 180) into
# kernel_args and timeout_s; the other arguments in order into rest (all of
# them after a "--").
platform_args() {
    arch_opt="" board_opt="" kernel_args="" timeout_s=180
    value_opts arch=arch_opt board=board_opt kernel-args=kernel_args timeout=timeout_s -- "$@"
    [[ $timeout_s =~ ^[0-9]+$ ]] || usage_error "--timeout wants seconds"
}

board_file() { echo "$here/fbvm.d/board-$board.sh"; }

# The checksum of the recipe the DTBs of the cache must come from.
dtb_recipe() { sha256sum "$(board_file)" | cut -d' ' -f1; }

# Copies the DTB called $board_dtb_stock out of the unpacked kernel package
# $1 to $2.
take_stock_dtb() {
    local f
    f=$(find "$1/usr/lib" -name "$board_dtb_stock" -path '*/linux-image-*' | head -n1)
    [[ -n $f ]] || die "the kernel package holds no $board_dtb_stock"
    cp "$f" "$2"
}

# Dies unless node $2 of DTB $1 is there and compatible with $3 first: the
# recipe was written for that tree, and a kernel package that changed it
# needs the recipe looked at again.
dtb_expect() {
    local got
    got=$(fdtget -t s "$1" "$2" compatible 2>/dev/null) ||
        die "$board_dtb_stock has no node $2"
    [[ "$got" == "$3" || "$got" == "$3 "* ]] ||
        die "$board_dtb_stock: $2 is \"$got\", not the $3 the recipe expects"
}

# Makes every variant of the board's DTB into $1/dtb and moves it into place.
make_dtbs() {
    local work=$1 v
    mkdir -p "$work/dtb"
    for v in "${board_dtbs[@]}"; do
        note "making the $board device tree $v from $board_dtb_stock"
        cp "$cache/kernel/stock.dtb" "$work/dtb/$v.dtb"
        "board_${board}_dtb" "$v" "$work/dtb/$v.dtb"
    done
    dtb_recipe >"$work/dtb/recipe"
    rm -rf "$cache/dtb"
    mv "$work/dtb" "$cache/dtb"
}

dtbs_current() {
    [[ -f "$cache/dtb/recipe" && "$(cat "$cache/dtb/recipe")" == "$(dtb_recipe)" ]]
}
