# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: a Debian systemd boot of the package: the image, the boot, the
# times it took. Sourced by the runner, which defines here, boot_cache,
# case_name, deb, out and compare.

# Helpers for a case's setup (cases.sh); the root being made is $root.

# vfb loaded at boot through modules-load.d, at 640x480 and depth $1, with
# $2 bytes of video memory (default 4 MiB).
vfb_at_boot() {
    vfb_options "$@"
    echo vfb >"$root/etc/modules-load.d/vfb.conf"
}
# The same options, but the module is loaded by late-fb.service, 3 s after
# multi-user.target; the report waits for the framebuffer.
vfb_late() {
    vfb_options "$@"
    enable_units late-fb.service
    touch "$root/etc/boot-test/device"
}
vfb_options() {
    echo "options vfb vfb_enable=1 videomemorysize=${2:-4194304} mode_option=640x480-$1" \
        >"$root/etc/modprobe.d/vfb.conf"
}
# systemctl enable in the root, as a user would.
enable_units() {
    chroot "$root" systemctl enable "$@" >>"$out/image.log" 2>&1 || die "systemctl enable $* failed"
}
# The units the report describes, besides dev-fb-0.device and multi-user.target.
report_units() { printf '%s\n' "$@" >>"$root/etc/boot-test/units"; }
# Units the report gives systemd-analyze security of, in the booted system.
report_security() { printf '%s\n' "$@" >>"$root/etc/boot-test/security"; }

# The root for one boot: the cached Debian root, the package installed in
# it with dpkg, vfb.ko where modprobe finds it, the report service, and what
# the case sets up.
systemd_image() {
    root=$tmp/root
    mkdir -p "$root"
    tar -xf "$rootfs_cache/rootfs.tar" -C "$root" --numeric-owner || die "unpacking the root failed"
    cp "$deb" "$root/tmp/pixvane.deb"
    chroot "$root" dpkg -i /tmp/pixvane.deb >"$out/dpkg.log" 2>&1 || {
        cat "$out/dpkg.log" >&2
        die "dpkg -i of the package failed in the root"
    }
    rm -f "$root/tmp/pixvane.deb"
    vm_install_vfb "$root"
    install -m 0755 "$here/vm/boot-report" "$root/usr/local/sbin/boot-report"
    install -m 0644 "$here/vm/boot-report.service" "$here/vm/late-fb.service" "$root/etc/systemd/system/"
    mkdir -p "$root/etc/boot-test"
    : >"$root/etc/boot-test/units"
    : >"$root/etc/boot-test/security"
    enable_units boot-report.service
    "case_${case_name}_setup"
    vm_pack "$root" "$tmp/initrd"
    rm -rf "$root"
}

# Reads the times of the boot from the report: multi_user_s, the monotonic
# time multi-user.target was reached (kernel start to then), and the line
# systemd-analyze gave.
systemd_times() {
    local usec user_usec user_s
    usec=$(prop multi-user.target ActiveEnterTimestampMonotonic)
    [[ $usec =~ ^[0-9]+$ && $usec != 0 ]] || die "the report gives no time for multi-user.target"
    multi_user_s=$(usec_s "$usec")
    echo "$multi_user_s" >"$out/multi-user.s"
    user_usec=$(sed -n 's/^UserspaceTimestampMonotonic=//p' "$(report manager)")
    [[ $user_usec =~ ^[0-9]+$ ]] || die "the report gives no time for the start of userspace"
    user_s=$(usec_s "$user_usec")
    in_user_s=$(usec_s "$((usec - user_usec))")
    echo "$in_user_s" >"$out/multi-user-userspace.s"
    note "$case_name: multi-user.target reached at $multi_user_s s: kernel $user_s s, userspace $in_user_s s; the VM ran ${vm_seconds} s in all"
}

systemd_case() {
    boot_start "case_${case_name}_setup" systemd "${systemd_cases[@]}"
    rootfs_ready || die "no complete root file system in $rootfs_cache: run '$0 prepare' first"
    exposure=""
    systemd_image
    # fbcon=map:9 keeps the text console off the framebuffer, as in the
    # kernel tests, so that pixvane alone changes its mode. The report, not
    # the console, is what the checks read.
    vm_boot "$tmp/initrd" "$out/console.log" "$out/report.log" 300 \
        rdinit=/sbin/init fbcon=map:9 loglevel=4
    report_split "$out" || {
        tail -n 30 "$out/console.log" >&2
        die "the boot wrote no complete report (console: $out/console.log)"
    }
    systemd_times
    "case_${case_name}_expect"
    report_summary "multi-user.target at $multi_user_s s (userspace $(cat "$out/multi-user-userspace.s") s)${exposure:+; exposure $exposure}"
}
