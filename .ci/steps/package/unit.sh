# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The systemd unit, verified in a throwaway root made of the staged install.
# Sourced by .ci/steps/package.sh.

# A throwaway root: the staged files plus this machine's system units, so that
# the unit's dependencies resolve and ExecStart and man:pixvane(8) are looked
# up in what was installed. Any message, not only a failure, fails the check:
# verify only warns about unknown keys and bad values.
unit_verify() {
    local vroot=$TMP/vroot out
    mkdir -p "$vroot"
    cp -a "$STAGE/." "$vroot/"
    mkdir -p "$vroot/$UNIT_DIR"
    cp -a /usr/lib/systemd/system/. "$vroot/$UNIT_DIR/"
    cp "$STAGE/$UNIT_DIR/pixvane@.service" "$vroot/$UNIT_DIR/"
    out=$(cd "$TMP" && MANPATH=$STAGE/usr/share/man \
        systemd-analyze verify --root="$vroot" pixvane@16.service 2>&1) || die "verify failed: $out"
    [[ -z $out ]] || die "systemd-analyze verify: $out"
    # What makes it a boot-time, one-shot depth setter.
    local u=$STAGE/$UNIT_DIR/pixvane@.service
    # It waits for the device unit that systemd makes for /dev/fb/0.
    local dev
    dev=$(systemd-escape -p --suffix=device /dev/fb/0)
    # It is wanted by that device, not by a target, so that a board without
    # a framebuffer never waits for it; a run that did not set the depth
    # fails it, so SuccessExitStatus=1 must not come back.
    for line in Type=oneshot "BindsTo=$dev" "After=$dev" "WantedBy=$dev" \
        'ExecStart=/usr/libexec/pixvane/pixvane-unit %i' DynamicUser=yes \
        SupplementaryGroups=video 'DeviceAllow=/dev/fb0 rw'; do
        grep -qx "$line" "$u" || die "unit lacks $line"
    done
    grep -q '^SuccessExitStatus=' "$u" && die "unit counts a failed run as success"
    grep -q '^Before=display-manager.service graphical.target' "$u" ||
        die "unit is not ordered before the display manager"
    # What the unit may reach, scored offline; 1.0 or less is the bar.
    local score
    score=$(cd "$vroot/$UNIT_DIR" && systemd-analyze security --offline=true \
        pixvane@16.service 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
    [[ -n $score ]] || die "systemd-analyze security gave no score"
    awk -v s="$score" 'BEGIN { exit !(s <= 1.0) }' || die "unit exposure $score > 1.0"
    echo "unit exposure (offline): $score"
    local w=$STAGE/usr/libexec/pixvane/pixvane-unit
    [[ -x $w ]] || die "wrapper $w not installed"
}
check "systemd unit passes systemd-analyze verify" unit_verify
