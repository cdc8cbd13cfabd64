# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The udev rule and the busybox mdev line, each on a made-up sysfs.
# Sourced by .ci/steps/package.sh.

# in_namespace SCRIPT ARGS...: runs a bash script, with ARGS as its $1..., in
# a private mount namespace: its mounts over /sys, /dev, /run and /etc are
# seen by nothing else on the machine.
in_namespace() {
    local script=$1
    shift
    unshare --mount --propagation private bash -euo pipefail -c "$script" bash "$@"
}
# Script text that mounts a sysfs with one framebuffer, fb0 (29:0), as the
# kernel shows it under /sys/class/graphics and /sys/dev/char, and an empty
# /dev and /run. The scripts here expand their variables in the namespace:
# shellcheck disable=SC2016
FAKE_SYSFS='
mount -t tmpfs sysfs /sys
d=/sys/devices/platform/simple-framebuffer.0/graphics/fb0
mkdir -p "$d" /sys/class/graphics /sys/dev/char
ln -s ../../../../../class/graphics "$d/subsystem"
ln -s ../../devices/platform/simple-framebuffer.0/graphics/fb0 /sys/class/graphics/fb0
ln -s ../../devices/platform/simple-framebuffer.0/graphics/fb0 /sys/dev/char/29:0
echo 29:0 >"$d/dev"
printf "MAJOR=29\nMINOR=0\nDEVNAME=fb0\n" >"$d/uevent"
mount -t tmpfs dev /dev
mount -t tmpfs run /run
'

# udevadm_test RULEFILE|"": the output of udevadm test for fb0 with the rule
# in /run/udev/rules.d, and then the /dev/fb directory that it made.
# SYSTEMD_DEVICE_VERIFY_SYSFS=0 lets udev take the tmpfs for sysfs.
udevadm_test() {
    # shellcheck disable=SC2016
    in_namespace "$FAKE_SYSFS"'
mkdir -p /run/udev/rules.d
if [ -n "$1" ]; then cp "$1" /run/udev/rules.d/; fi
SYSTEMD_DEVICE_VERIFY_SYSFS=0 udevadm test --action=add /sys/class/graphics/fb0 2>&1
echo "link: $(readlink /dev/fb/0 || true)"
' "$1"
}

# udev_rule [FILE]: udev reads the rule file (by default the amd64
# package's), accepts it, links /dev/fb/0 to fb0 and tags it for systemd.
udev_rule() {
    local rule=${1:-$(unpacked amd64)$DEB_UDEV_RULES_DIR/60-pixvane-fb.rules} out name
    [[ -f $rule ]] || die "no rule file $rule"
    name=$(basename "$rule")
    out=$(udevadm_test "$rule")
    grep -q "^Reading rules file: /run/udev/rules.d/$name$" <<<"$out" || die "udev did not read the rule: $out"
    # udev reports a rule it cannot parse as "<file>:<line> <problem>".
    ! grep -E "^/run/udev/rules.d/$name:" <<<"$out" || die "udev does not accept the rule"
    grep -q "^fb0: /run/udev/rules.d/$name:[0-9]* LINK 'fb/0'$" <<<"$out" || die "the rule made no link: $out"
    grep -Eq '^DEVLINKS=(.* )?/dev/fb/0( |$)' <<<"$out" || die "no /dev/fb/0 in DEVLINKS: $out"
    grep -Eq '^TAGS=.*:systemd:' <<<"$out" || die "fb0 not tagged for systemd: $out"
    grep -qx 'link: ../fb0' <<<"$out" || die "/dev/fb/0 is not a link to ../fb0: $out"
    # Without the rule, nothing on this machine makes /dev/fb/0: the link
    # above comes from the rule.
    out=$(udevadm_test "")
    ! grep -q '/dev/fb/0' <<<"$out" || die "/dev/fb/0 appears without the rule: $out"
}

# The rule as the manual page shows it, broken over two lines, does the same:
# udev joins a line that ends in a backslash to the next.
udev_rule_in_man() {
    mkdir -p "$TMP/man-rule"
    man_display file 60-pixvane-fb.rules >"$TMP/man-rule/60-pixvane-fb.rules" ||
        die "the manual page shows no rule"
    udev_rule "$TMP/man-rule/60-pixvane-fb.rules"
}

# mdev_scan CONF PRE: mdev -s with CONF as /etc/mdev.conf; PRE is shell run
# first (devtmpfs's /dev/fb0 node). Prints what /dev then holds.
mdev_scan() {
    mkdir -p "$TMP/etc"
    cp /etc/passwd /etc/group "$TMP/etc/"
    cp "$1" "$TMP/etc/mdev.conf"
    # shellcheck disable=SC2016
    in_namespace "$FAKE_SYSFS"'
mount --bind "$1" /etc
eval "$2"
busybox mdev -s
cd /dev
for f in fb0 fb/0; do
    if [ -L "$f" ]; then echo "$f link $(readlink "$f") $(stat -L -c "%G %a" "$f")"
    elif [ -c "$f" ]; then echo "$f char $(stat -c "%t:%T %G %a" "$f")"
    else echo "$f none"; fi
done
' "$TMP/etc" "$2"
}

mdev_line() {
    local conf out
    conf=$(unpacked amd64)/usr/share/doc/pixvane/examples/mdev.conf
    [[ -f $conf ]] || die "no unpacked mdev.conf"
    # A bare /dev: the node is /dev/fb/0 and /dev/fb0 a link to it.
    out=$(mdev_scan "$conf" "")
    [[ $out == $'fb0 link fb/0 video 660\nfb/0 char 1d:0 video 660' ]] || die "bare /dev: $out"
    # devtmpfs made /dev/fb0 already, root 0600: it stays a node, gets the
    # group and mode of /dev/fb/0, and /dev/fb/0 is added.
    out=$(mdev_scan "$conf" "mknod -m 600 /dev/fb0 c 29 0")
    [[ $out == $'fb0 char 1d:0 video 660\nfb/0 char 1d:0 video 660' ]] || die "with devtmpfs node: $out"
    # Without the line mdev makes only /dev/fb0.
    : >"$TMP/empty.conf"
    out=$(mdev_scan "$TMP/empty.conf" "")
    [[ $out == $'fb0 char 1d:0 root 660\nfb/0 none' ]] || die "without the line: $out"
}

if unshare --mount --propagation private true 2>/dev/null; then
    check "udev rule: udevadm test links /dev/fb/0 and tags it for systemd" udev_rule
    check "udev rule as the manual page shows it: udevadm test does the same" udev_rule_in_man
    check "mdev lines: mdev -s makes /dev/fb/0, both names root:video 0660" mdev_line
else
    check_skip "udev rule and mdev line: no private mount namespace here (unshare needs CAP_SYS_ADMIN)"
fi
