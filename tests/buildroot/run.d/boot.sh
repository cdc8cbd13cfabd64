# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# buildroot: the boots of the images, under fbvm's arm64 kernel and qemu,
# and what each boot must show on its console.
# Sourced by the runner, which defines cache, fbvm and outdir, and sources
# the shell library (die, note, check, eq).

# case: image | vfb options, empty for no framebuffer | when it is loaded |
# depth in /etc/default/pixvane | what the case catches
boot_cases=(
    "devtmpfs|devtmpfs|vfb_enable=1 videomemorysize=4194304 mode_option=640x480-24|now|16|a devtmpfs /dev without /dev/fb/0"
    "stale|devtmpfs|vfb_enable=1 videomemorysize=4194304 mode_option=640x480-24|now|16|a dangling /dev/fb/0 left from before"
    "late|devtmpfs|vfb_enable=1 videomemorysize=4194304 mode_option=640x480-24|late|16|a framebuffer that comes 2 s after S11pixvane starts"
    "none|devtmpfs||now|16|no framebuffer at all"
    "refused|devtmpfs|vfb_enable=1 videomemorysize=1048576 mode_option=640x480-16|now|32|a depth the driver refuses"
    "mdev|mdev|vfb_enable=1 videomemorysize=4194304 mode_option=640x480-24|now|16|Buildroot's S10mdev, mdev -df in the background"
)

# boot_root IMAGE VFB WHEN BPP: the image's target/ as a bootable initramfs
# tree in $root, with vfb.ko where modprobe finds it and its options in
# /etc/modprobe.d, and the systemd build's unit wrapper. "now": Buildroot's
# own S11modules loads vfb from /etc/modules-load.d, before S11pixvane;
# "late": a board script loads it 2 s after rcS went on. A last script
# reports, runs the unit's commands and powers off.
boot_root() {
    local image=$1 vfb=$2 when=$3 bpp=$4 release
    release=$("$fbvm" path --arch arm64 release)
    cp -a "$cache/images/$image" "$root"
    # What Buildroot's cpio image adds: an /init that mounts devtmpfs.
    install -m 0755 "$cache/buildroot-$br_version/fs/cpio/init" "$root/init"
    install -D -m 0644 "$("$fbvm" path --arch arm64 vfb)" "$root/lib/modules/$release/extra/vfb.ko"
    # The systemd unit's wrapper, as the systemd build installs it.
    install -D -m 0755 "$cache/images/pkg-systemd-16/usr/libexec/pixvane/pixvane-unit" \
        "$root/usr/libexec/pixvane/pixvane-unit"
    # Only vfb is there: depmod's lists of the rest stay empty.
    touch "$root/lib/modules/$release/"modules.{order,builtin,builtin.modinfo}
    depmod -b "$root" "$release" || die "depmod failed"
    sed -i "s/^PIXVANE_BPP=.*/PIXVANE_BPP=$bpp/" "$root/etc/default/pixvane"
    if [[ -n $vfb ]]; then
        install -D -m 0644 /dev/stdin "$root/etc/modprobe.d/vfb.conf" <<<"options vfb $vfb"
        if [[ $when == now ]]; then
            install -D -m 0644 /dev/stdin "$root/etc/modules-load.d/vfb.conf" <<<vfb
        else
            # It notes whether S11pixvane was still running then, quietly:
            # a line on the console would cut S11pixvane's.
            cat >"$root/etc/init.d/S10late" <<'EOS'
#!/bin/sh
(
    sleep 2
    if ps | grep -q '[S]11pixvane'; then echo running; else echo gone; fi >/tmp/late
    modprobe vfb
) &
EOS
        fi
    fi
    [[ $case_name != stale ]] ||
        printf '#!/bin/sh\nmkdir -p /dev/fb && ln -s ../fb9 /dev/fb/0\n' >"$root/etc/init.d/S10stale"
    cat >"$root/etc/init.d/S99report" <<'EOS'
#!/bin/sh
[ "$1" = start ] || exit 0
echo "boot-test: bpp=$(cat /sys/class/graphics/fb0/bits_per_pixel 2>/dev/null || echo none)"
echo "boot-test: fb/0=$(readlink /dev/fb/0)"
[ ! -f /tmp/late ] || echo "boot-test: S11pixvane when vfb came: $(cat /tmp/late)"
/etc/init.d/S11pixvane start >/tmp/again 2>&1
echo "boot-test: again=$(head -n1 /tmp/again)"
# The systemd unit's commands, in this busybox userland: its run, its
# condition with two instances enabled, its group check with the group and
# without it.
say() { # NAME COMMAND...: the status, then the output, on one line
    name=$1
    shift
    out=$("$@" 2>&1)
    echo "boot-test: $name=$?${out:+ $out}"
}
u=/usr/libexec/pixvane/pixvane-unit
echo "boot-test: getent=$(command -v getent || echo none)"
. /etc/default/pixvane
"$u" "$PIXVANE_BPP" >/tmp/unit 2>&1
rc=$?
echo "boot-test: unit run=$rc ok-lines=$(grep -cx 'QUIL_VO: seted bpp on FB' /tmp/unit)" \
    "open-lines=$(grep -cx "QUIL_VO: Can't open /dev/fb/0" /tmp/unit)"
w=/etc/systemd/system/dev-fb-0.device.wants
mkdir -p "$w"
ln -s /usr/lib/systemd/system/pixvane@.service "$w/pixvane@16.service"
ln -s /usr/lib/systemd/system/pixvane@.service "$w/pixvane@24.service"
say "condition 16" "$u" --condition 16
say "condition 24" "$u" --condition 24
rm -r /etc/systemd
say "group video" "$u" --group video
sed -i '/^video:/d' /etc/group
say "no group video" "$u" --group video
echo "boot-test: end"
poweroff -f
EOS
    chmod 0755 "$root"/etc/init.d/S*
}

console_has() { grep -qxF -- "$1" "$boot_dir/console.log"; }
console_lacks() { ! grep -F -- "$1" "$boot_dir/console.log"; }
console_count() { grep -cxF -- "$1" "$boot_dir/console.log" || true; }

boot_expect() { # BPP: what the case must show
    local bpp=$1
    check "the boot went on to the last script" console_has 'boot-test: end'
    case "$case_name" in
    none)
        check "one line says there is no framebuffer" eq "$(console_count "Setting framebuffer to $bpp bpp: FAIL, no framebuffer /dev/fb0 within 5 s")" 1
        check "nothing claims a switch" console_lacks 'seted'
        check "no framebuffer afterwards" console_has 'boot-test: bpp=none'
        ;;
    refused)
        check "S11pixvane says it failed" console_has "Setting framebuffer to $bpp bpp: FAIL"
        check "pixvane's refusal is on the console" console_has "QUIL_VO: Can't set VSCREENINFO"
        check "nothing claims a switch" console_lacks 'seted'
        check "bits_per_pixel stays 16" console_has 'boot-test: bpp=16'
        ;;
    *)
        check "S11pixvane says it set $bpp" console_has "Setting framebuffer to $bpp bpp: OK"
        check "pixvane's seted line" console_has 'QUIL_VO: seted bpp on FB'
        check "pixvane ran once at boot" eq "$(console_count 'Pixvane by Qor-EN')" 1
        check "bits_per_pixel is $bpp afterwards (sysfs)" console_has "boot-test: bpp=$bpp"
        check "/dev/fb/0 links to ../fb0" console_has 'boot-test: fb/0=../fb0'
        check "a second start works as well" console_has "boot-test: again=Setting framebuffer to $bpp bpp: OK"
        ;;
    esac
    # The unit's commands need nothing busybox lacks: not getent.
    check "the image has no getent" console_has 'boot-test: getent=none'
    case "$case_name" in
    none) check "the unit's run fails: no framebuffer" console_has 'boot-test: unit run=1 ok-lines=0 open-lines=1' ;;
    refused) check "the unit's run fails: depth refused" console_has 'boot-test: unit run=1 ok-lines=0 open-lines=0' ;;
    *) check "the unit's run sets the depth" console_has 'boot-test: unit run=0 ok-lines=1 open-lines=0' ;;
    esac
    check "the unit's condition runs the lower of two instances" console_has 'boot-test: condition 16=0'
    check "the unit's condition skips the other, naming it" console_has \
        'boot-test: condition 24=1 pixvane@24.service skipped: pixvane@16.service is enabled too and sets its depth, 16, the lowest of the enabled instances'
    check "the group check finds video in /etc/group" console_has 'boot-test: group video=0'
    check "the group check fails without it, naming it" console_has \
        'boot-test: no group video=1 there is no group video: pixvane@.service opens /dev/fb0 through it (SupplementaryGroups=video), and cannot run without it'
    [[ $case_name != late ]] ||
        check "vfb came while S11pixvane was waiting" console_has 'boot-test: S11pixvane when vfb came: running'
}

# boot_case ROW: packs, boots and checks the case of one boot_cases row.
boot_case() {
    local row=$1 image vfb when bpp what start
    IFS='|' read -r case_name image vfb when bpp what <<<"$row"
    boot_dir=$outdir/boot-$case_name
    rm -rf "$boot_dir" && mkdir -p "$boot_dir"
    root=$boot_dir/root
    boot_root "$image" "$vfb" "$when" "$bpp"
    check_log=$boot_dir/checks.log
    "$fbvm" pack "$root" "$boot_dir/initrd" || die "$case_name: packing the initramfs failed"
    start=$SECONDS
    "$fbvm" boot --arch arm64 --initrd "$boot_dir/initrd" --console "$boot_dir/console.log" --timeout 120 ||
        die "$case_name: the VM did not finish (console: $boot_dir/console.log)"
    vm_seconds=$((SECONDS - start))
    rm -rf "$root" "$boot_dir/initrd"
    note "$case_name ($what): VM $vm_seconds s"
    boot_expect "$bpp"
}
