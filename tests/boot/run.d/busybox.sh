# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: busybox init boots as a Buildroot image boots, with the files the
# package ships: busybox init is PID 1 and reads /etc/inittab.
#
#   inittab  the inittab example the package ships, whole, after the lines
#            that mount what a Buildroot inittab mounts, load the display
#            driver and run "mdev -s" with the shipped mdev.conf; vfb at 24,
#            and the shipped lines set 16
#   rcS      a Buildroot inittab that runs /etc/init.d/rcS, which starts
#            S09vfb (the driver), S10mdev (mdev -s, the shipped mdev.conf)
#            and S11pixvane, the shipped pixvane.init, with PIXVANE_BPP=32 in
#            /etc/default/pixvane; vfb at 16
#
# busybox is fbvm's busybox-static, the kernel and vfb.ko are fbvm's, and
# pixvane and the examples come out of the package. Everything the test
# needs to see is written to the console, which is all the checks read.
# Sourced by the runner, which defines here, case_name, deb and out.

busybox_cases=(inittab rcS)

# The tree every busybox boot starts from: busybox with its applets where
# Buildroot puts them, the package unpacked, vfb.ko, /etc/passwd and
# /etc/group with the video group, and the shipped mdev.conf.
busybox_tree() {
    local a
    mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,dev,proc,sys,run,tmp,etc/init.d,lib/modules}
    install -m 0755 "$busybox_bin" "$root/bin/busybox"
    while read -r a; do
        [[ -e $root/$a || $a == bin/busybox ]] || ln -s /bin/busybox "$root/$a"
    done < <("$busybox_bin" --list-full)
    dpkg-deb -x "$deb" "$root"
    cp "${vfb_modules[@]}" "$root/lib/modules/"
    printf '%s\n' "${vfb_modules[@]##*/}" >"$root/lib/modules/vfb.order"
    printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
    printf 'root:x:0:\nvideo:x:28:\n' >"$root/etc/group"
    cp "$root/usr/share/doc/pixvane/examples/mdev.conf" "$root/etc/mdev.conf"
    # What the console shows last: the depth, the nodes, then power off.
    cat >"$root/sbin/boot-test-report" <<'EOS'
#!/bin/sh
echo "boot-test: pid1=$(readlink /proc/1/exe)"
echo "boot-test: bpp=$(cat /sys/class/graphics/fb0/bits_per_pixel)"
echo "boot-test: fb/0=$(stat -c '%F %t,%T %u:%g %a' /dev/fb/0)"
echo "boot-test: fb0=$(stat -L -c '%F %t,%T' /dev/fb0)"
[ ! -x /etc/init.d/S11pixvane ] || echo "boot-test: status=$(/etc/init.d/S11pixvane status)"
echo "boot-test: end"
EOS
    chmod 0755 "$root/sbin/boot-test-report"
}

# What a Buildroot inittab does before its rc scripts: proc, sysfs and a
# devtmpfs /dev, as Buildroot's initramfs /init mounts it.
busybox_inittab_head() {
    cat <<'EOS'
# Buildroot's first lines
::sysinit:/bin/mount -t proc proc /proc
::sysinit:/bin/mount -t sysfs sysfs /sys
::sysinit:/bin/mount -t devtmpfs devtmpfs /dev
::sysinit:/bin/mkdir -p /dev/pts /dev/shm /run/lock/subsys
EOS
}
busybox_inittab_tail() {
    cat <<'EOS'
# The test's own: report, then power off.
::sysinit:/sbin/boot-test-report
::sysinit:/sbin/poweroff -f
EOS
}
# The insmod lines for vfb and what it needs, with options $1 for vfb.
busybox_insmod() {
    local m
    for m in "${vfb_modules[@]##*/}"; do
        if [[ $m == vfb.ko ]]; then
            echo "/sbin/insmod /lib/modules/$m $1"
        else
            echo "/sbin/insmod /lib/modules/$m"
        fi
    done
}

busybox_setup_inittab() {
    local shipped=$root/usr/share/doc/pixvane/examples/inittab
    grep -qx '::sysinit:/usr/sbin/pixvane 16' "$shipped" || die "the shipped inittab has no pixvane line for 16"
    {
        busybox_inittab_head
        busybox_insmod "vfb_enable=1 videomemorysize=4194304 mode_option=640x480-24" | sed 's/^/::sysinit:/'
        echo '::sysinit:/sbin/mdev -s'
        cat "$shipped"
        busybox_inittab_tail
    } >"$root/etc/inittab"
}
busybox_expect_inittab() {
    busybox_common 16
    check "the console holds the run's lines, 24 to 16" console_lines 'Pixvane by Qor-EN' \
        '~^QUIL_VO: FB 4194304@0x[0-9a-f]+$' 'QUIL_VO: set new bpp 16 (24) on FB' \
        'QUIL_VO: switching to bpp: 16' 'QUIL_VO: seted bpp on FB' 'QUIL_VO: All uninit'
}

busybox_setup_rcS() {
    {
        busybox_inittab_head
        echo '# now run any rc scripts'
        echo '::sysinit:/etc/init.d/rcS'
        busybox_inittab_tail
    } >"$root/etc/inittab"
    # Buildroot's rcS: every /etc/init.d/S??* in order, *.sh sourced.
    cat >"$root/etc/init.d/rcS" <<'EOS'
#!/bin/sh
for i in /etc/init.d/S??*; do
    [ ! -f "$i" ] && continue
    case "$i" in
    *.sh) (trap - INT QUIT TSTP; set start; . "$i") ;;
    *) "$i" start ;;
    esac
done
EOS
    {
        echo '#!/bin/sh'
        echo '[ "$1" = start ] || exit 0'
        echo 'printf "Loading vfb: "'
        busybox_insmod "vfb_enable=1 videomemorysize=4194304 mode_option=640x480-16"
        echo 'echo OK'
    } >"$root/etc/init.d/S09vfb"
    cat >"$root/etc/init.d/S10mdev" <<'EOS'
#!/bin/sh
[ "$1" = start ] || exit 0
printf "Starting mdev... "
[ ! -w /proc/sys/kernel/hotplug ] || echo /sbin/mdev >/proc/sys/kernel/hotplug
/sbin/mdev -s
echo "OK"
EOS
    install -m 0755 "$root/usr/share/doc/pixvane/examples/pixvane.init" "$root/etc/init.d/S11pixvane"
    mkdir -p "$root/etc/default"
    echo 'PIXVANE_BPP=32' >"$root/etc/default/pixvane"
    chmod 0755 "$root/etc/init.d/rcS" "$root/etc/init.d/S09vfb" "$root/etc/init.d/S10mdev"
}
busybox_expect_rcS() {
    busybox_common 32
    check "S11pixvane says it set 32" grep -qx 'Setting framebuffer to 32 bpp: OK' "$out/console.log"
    check "the console holds the run's lines, 16 to 32" console_lines 'Pixvane by Qor-EN' \
        '~^QUIL_VO: FB 4194304@0x[0-9a-f]+$' 'QUIL_VO: set new bpp 32 (16) on FB' \
        'QUIL_VO: switching to bpp: 32' 'QUIL_VO: seted bpp on FB' 'QUIL_VO: All uninit'
    check "S11pixvane status prints the depth" console_has 'boot-test: status=framebuffer /dev/fb/0: 32 bpp'
}

# console_has LINE: the console holds LINE whole.
console_has() { grep -qxF -- "$1" "$out/console.log"; }
# console_lines LINE...: the banner and QUIL_VO lines on the console, as
# tool_lines (cases.sh) checks them in a journal.
console_lines() {
    mkdir -p "$out/report"
    cp "$out/console.log" "$out/report/journal_console"
    tool_lines console "$@"
}
busybox_common() {
    check "busybox init is PID 1" console_has 'boot-test: pid1=/bin/busybox'
    check "pixvane ran exactly once" eq "$(grep -cx 'Pixvane by Qor-EN' "$out/console.log")" 1
    check "bits_per_pixel is $1 afterwards" console_has "boot-test: bpp=$1"
    # mdev made the node by the shipped lines: /dev/fb/0, root:video 0660.
    # On devtmpfs the kernel's own /dev/fb0 stays (mdev cannot put its link
    # where a node is), and still reaches the same device.
    check "mdev made /dev/fb/0 root:video 0660" console_has 'boot-test: fb/0=character special file 1d,0 0:28 660'
    check "/dev/fb0 is still the framebuffer" console_has 'boot-test: fb0=character special file 1d,0'
}

busybox_case() {
    boot_start "busybox_setup_$case_name" busybox "${busybox_cases[@]}"
    root=$tmp/root
    busybox_tree
    "busybox_setup_$case_name"
    vm_pack "$root" "$tmp/initrd"
    vm_boot "$tmp/initrd" "$out/console.log" "$out/report.log" 120 rdinit=/sbin/init fbcon=map:9 loglevel=1
    console_has 'boot-test: end' || {
        tail -n 30 "$out/console.log" >&2
        die "the boot did not get to its report (console: $out/console.log)"
    }
    note "$case_name: the VM ran $vm_seconds s"
    "busybox_expect_$case_name"
    report_summary
}
