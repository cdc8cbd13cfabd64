# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: the systemd cases: what each boot sets up, and the facts it must
# show. The expected lines are pixvane's messages for the depths involved,
# written out here; the framebuffer's address is the only part not known
# beforehand. Sourced by the runner; the helpers are in systemd.sh and
# report.sh.

systemd_cases=(fb16 nofb refused default-late outofrange two privatedevices novideo)

# tool_lines UNIT LINE...: the banner and the QUIL_VO lines in the unit's
# journal are exactly LINE... in this order; a LINE that starts with ~ is an
# extended regular expression for its line.
tool_lines() {
    local unit=$1 want got i=0
    shift
    mapfile -t got < <(grep -E '^(Pixvane by |QUIL_VO: )' "$(report "journal $unit")")
    ((${#got[@]} == $#)) || {
        printf 'got %s lines, want %s:\n' "${#got[@]}" "$#"
        printf '  %s\n' "${got[@]}"
        return 1
    }
    for want in "$@"; do
        if [[ $want == '~'* ]]; then
            [[ ${got[i]} =~ ${want#\~} ]] || { echo "line $i: '${got[i]}' !~ '${want#\~}'"; return 1; }
        else
            [[ ${got[i]} == "$want" ]] || { echo "line $i: '${got[i]}', want '$want'"; return 1; }
        fi
        i=$((i + 1))
    done
}

# A run that switched from depth $2 to $3 on vfb with $4 bytes of memory.
switched_lines() {
    tool_lines "$1" 'Pixvane by Qor-EN' "~^QUIL_VO: FB $4@0x[0-9a-f]+\$" \
        "QUIL_VO: set new bpp $3 ($2) on FB" "QUIL_VO: switching to bpp: $3" \
        'QUIL_VO: seted bpp on FB' 'QUIL_VO: All uninit'
}

# unprivileged UNIT: the lines of the unit's output were written by one
# user, not root (a DynamicUser= user is 61184 to 65519).
unprivileged() {
    local uids
    uids=$(cat "$(report "uids $1")")
    [[ $uids =~ ^[0-9]+$ ]] && ((uids >= 61184 && uids <= 65519)) || {
        echo "uids: $uids"
        return 1
    }
}

# unit_complaints UNIT: what systemd said it could not use of the unit file:
# nothing, but on bullseye, whose systemd 247 predates the value "none" of
# RestrictAddressFamilies= and runs the unit without that setting.
unit_complaints() {
    local want=() got
    [[ $rootfs_suite != bullseye ]] ||
        want=('~^/usr/lib/systemd/system/pixvane@\.service:[0-9]+: Failed to parse address family, ignoring: none$')
    mapfile -t got < <(grep -E '^/.*\.service:[0-9]+: ' "$(report "journal $1")")
    ((${#got[@]} == ${#want[@]})) || {
        printf 'got %s complaints, want %s:\n' "${#got[@]}" "${#want[@]}"
        printf '  %s\n' "${got[@]}"
        return 1
    }
    [[ ${#want[@]} == 0 || ${got[0]} =~ ${want[0]#\~} ]] || { echo "complaint: ${got[0]}"; return 1; }
}

# The facts every boot with a framebuffer and one instance that ran shows.
ran_once_after_device() {
    local unit=$1
    check "$unit ran exactly once" eq "$(count_in_journal "$unit" 'Pixvane by Qor-EN')" 1
    check "$unit started after dev-fb-0.device" \
        before dev-fb-0.device ActiveEnterTimestampMonotonic "$unit" InactiveExitTimestampMonotonic
    check "$unit ran pixvane as an unprivileged user" unprivileged "$unit"
}
reached_multi_user() {
    check "multi-user.target was reached" eq "$(prop multi-user.target ActiveState)" active
}
succeeded() {
    check "$1 ended active (exited)" eq "$(prop "$1" ActiveState)/$(prop "$1" SubState)" active/exited
    check "$1 result is success" eq "$(prop "$1" Result)" success
    check "its journal holds 'QUIL_VO: seted bpp on FB'" in_journal "$1" 'QUIL_VO: seted bpp on FB'
}
depth_at_end() {
    check "bits_per_pixel is $1 at the end of the boot" eq "$(cat "$(report bpp)")" "$1"
}

# pixvane@16 enabled, vfb at 24 from modules-load.d: the main case.
case_fb16_setup() {
    vfb_at_boot 24
    enable_units pixvane@16.service
    report_units pixvane@16.service
    report_security pixvane@16.service
}
case_fb16_expect() {
    ran_once_after_device pixvane@16.service
    succeeded pixvane@16.service
    check "the journal holds the run's lines, 24 to 16" switched_lines pixvane@16.service 24 16 4194304
    depth_at_end 16
    check "systemd took every setting of the unit, or (bullseye) all but RestrictAddressFamilies=none" \
        unit_complaints pixvane@16.service
    # Debian's udev rules give the node to the group video (gid 44 in
    # Debian's base-passwd), the group the unit runs pixvane in.
    check "/dev/fb0 is root:video 0660" grep -q '^crw-rw---- 1 0 44 29, *0 .* /dev/fb0$' "$(report fb0-node)"
    check "systemctl --failed lists nothing" none_failed
    reached_multi_user
    # The hardened unit in the booted system, where the depth did switch.
    local score
    score=$(sed -n 's/.*Overall exposure level for pixvane@16.service: \([0-9.]*\).*/\1/p' \
        "$(report "security pixvane@16.service")")
    check "systemd-analyze security gives an exposure of 1.0 or less (got ${score:-none})" \
        awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 1.0) }'
    exposure=$score
}

# The same image with no framebuffer at all.
case_nofb_setup() {
    enable_units pixvane@16.service
    report_units pixvane@16.service
}
case_nofb_expect() {
    check "there is no framebuffer" eq "$(cat "$(report bpp)")" none
    check "pixvane@16.service never started" \
        eq "$(prop pixvane@16.service ActiveState)/$(prop pixvane@16.service InactiveExitTimestampMonotonic)" inactive/0
    check "pixvane never ran" eq "$(count_in_journal pixvane@16.service 'Pixvane by Qor-EN')" 0
    check "systemctl --failed lists nothing" none_failed
    reached_multi_user
    # Not held up by a device job, which would wait DefaultDeviceTimeoutSec
    # (90 s) and then log that it timed out.
    check "no job waited for dev-fb-0.device" not_in_journal dev-fb-0.device 'Timed out'
    # Within a few seconds of the boot that had the device: 10 s, since two
    # boots on a shared machine differ by that much on their own.
    if [[ -n $compare ]]; then
        local with
        with=$(cat "$compare/multi-user.s" 2>/dev/null || true)
        note "multi-user.target: ${with:-?} s with a framebuffer, $multi_user_s s without"
        check "multi-user.target within 10 s of the boot with a framebuffer (${with:-?} s; here $multi_user_s s)" \
            awk -v a="$multi_user_s" -v b="$with" 'BEGIN { exit !(b != "" && a <= b + 10) }'
    else
        check "multi-user.target well before the 90 s device timeout ($multi_user_s s)" \
            awk -v a="$multi_user_s" 'BEGIN { exit !(a < 60) }'
    fi
}

# A depth the driver refuses: 32 bpp does not fit in 1 MiB at 640x480.
case_refused_setup() {
    vfb_at_boot 16 1048576
    enable_units pixvane@32.service
    report_units pixvane@32.service
}
case_refused_expect() {
    ran_once_after_device pixvane@32.service
    check "pixvane@32.service ended failed" eq "$(prop pixvane@32.service ActiveState)" failed
    check "its result is exit-code, status 1" \
        eq "$(prop pixvane@32.service Result)/$(prop pixvane@32.service ExecMainStatus)" exit-code/1
    check "its journal shows why: the driver refused the mode" tool_lines pixvane@32.service \
        'Pixvane by Qor-EN' '~^QUIL_VO: FB 1048576@0x[0-9a-f]+$' \
        'QUIL_VO: set new bpp 32 (16) on FB' 'QUIL_VO: switching to bpp: 32' \
        "QUIL_VO: Can't set VSCREENINFO" 'QUIL_VO: All uninit'
    depth_at_end 16
    check "systemctl --failed lists pixvane@32.service alone" only_failed pixvane@32.service
    reached_multi_user
}

# "systemctl enable pixvane@.service" (DefaultInstance=24), and vfb loaded
# 3 s after multi-user.target: the device appears long after the unit's
# dependencies were set up.
case_default-late_setup() {
    vfb_late 16
    enable_units pixvane@.service
    report_units pixvane@24.service
}
case_default-late_expect() {
    check "enabling pixvane@.service enabled pixvane@24.service" \
        grep -q 'dev-fb-0.device.wants/pixvane@24.service' "$out/image.log"
    check "the framebuffer appeared after multi-user.target" \
        before multi-user.target ActiveEnterTimestampMonotonic dev-fb-0.device ActiveEnterTimestampMonotonic
    ran_once_after_device pixvane@24.service
    succeeded pixvane@24.service
    check "the journal holds the run's lines, 16 to 24" switched_lines pixvane@24.service 16 24 4194304
    depth_at_end 24
    check "systemctl --failed lists nothing" none_failed
    reached_multi_user
}

# An instance outside 8..32: pixvane uses 24.
case_outofrange_setup() {
    vfb_at_boot 16
    enable_units pixvane@99.service
    report_units pixvane@99.service
}
case_outofrange_expect() {
    ran_once_after_device pixvane@99.service
    succeeded pixvane@99.service
    check "the journal shows 24 asked for" switched_lines pixvane@99.service 16 24 4194304
    depth_at_end 24
    check "systemctl --failed lists nothing" none_failed
    reached_multi_user
}

# pixvane@16 and pixvane@24 enabled together on a framebuffer at 32: the
# lowest depth is set, whichever starts first; the other is skipped.
case_two_setup() {
    vfb_at_boot 32
    enable_units pixvane@24.service pixvane@16.service
    report_units pixvane@16.service pixvane@24.service
}
case_two_expect() {
    ran_once_after_device pixvane@16.service
    succeeded pixvane@16.service
    check "the journal holds pixvane@16's run, 32 to 16" switched_lines pixvane@16.service 32 16 4194304
    check "pixvane@24.service did not run pixvane" \
        eq "$(count_in_journal pixvane@24.service 'Pixvane by Qor-EN')" 0
    check "pixvane@24.service says why it was skipped" in_journal pixvane@24.service \
        'pixvane@24.service skipped: pixvane@16.service is enabled too and sets its depth, 16, the lowest of the enabled instances'
    check "pixvane@24.service was skipped by its condition, not failed" \
        eq "$(prop pixvane@24.service ActiveState)/$(prop pixvane@24.service Result)" inactive/exec-condition
    depth_at_end 16
    check "systemctl --failed lists nothing" none_failed
    reached_multi_user
}

# The one hardening setting the unit leaves out, added back by a drop-in:
# PrivateDevices=yes gives the service a /dev of its own without the
# framebuffer, so the run cannot open it, and the unit must say so.
case_privatedevices_setup() {
    vfb_at_boot 24
    enable_units pixvane@16.service
    mkdir -p "$root/etc/systemd/system/pixvane@16.service.d"
    printf '[Service]\nPrivateDevices=yes\n' >"$root/etc/systemd/system/pixvane@16.service.d/private-devices.conf"
    report_units pixvane@16.service
}
case_privatedevices_expect() {
    ran_once_after_device pixvane@16.service
    check "with PrivateDevices=yes, pixvane cannot open the device" tool_lines pixvane@16.service \
        'Pixvane by Qor-EN' "QUIL_VO: Can't open /dev/fb/0"
    check "pixvane@16.service ended failed" eq "$(prop pixvane@16.service ActiveState)" failed
    depth_at_end 24
    check "systemctl --failed lists pixvane@16.service alone" only_failed pixvane@16.service
    reached_multi_user
}

# An image with no group video (as images built without Debian's base
# groups are): systemd cannot give the unit its SupplementaryGroups=, and
# /dev/fb0 stays root:root 0600, which no dynamic user reaches. The unit
# must not end skipped, as if another instance had run: the check it
# requires fails, naming the group.
case_novideo_setup() {
    vfb_at_boot 24
    enable_units pixvane@16.service
    # Out of the group files, and of systemd-sysusers', which would add the
    # group back at boot.
    sed -i '/^video:/d' "$root/etc/group" "$root/etc/gshadow"
    sed -i '/^g video /d' "$root/usr/lib/sysusers.d/"*.conf
    report_units pixvane@16.service pixvane-group.service
}
case_novideo_expect() {
    check "pixvane never ran" eq "$(count_in_journal pixvane@16.service 'Pixvane by Qor-EN')" 0
    check "pixvane-group.service names the missing group" in_journal pixvane-group.service \
        'there is no group video: pixvane@.service opens /dev/fb0 through it (SupplementaryGroups=video), and cannot run without it'
    check "pixvane-group.service ended failed" \
        eq "$(prop pixvane-group.service ActiveState)/$(prop pixvane-group.service Result)" failed/exit-code
    check "pixvane@16.service did not start: its dependency failed" \
        eq "$(prop pixvane@16.service ActiveState)/$(prop pixvane@16.service InactiveExitTimestampMonotonic)" inactive/0
    check "systemctl --failed lists pixvane-group.service alone" only_failed pixvane-group.service
    depth_at_end 24
    reached_multi_user
}
