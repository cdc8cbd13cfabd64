# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The systemd unit, verified in a throwaway root made of the staged install.
# Sourced by .ci/steps/package.sh, which defines check, die, SRC and TMP.

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
    for line in Type=oneshot SuccessExitStatus=1 "BindsTo=$dev" "After=$dev" \
        'Before=display-manager.service graphical.target' 'WantedBy=multi-user.target'; do
        grep -qx "$line" "$u" || die "unit lacks $line"
    done
}
check "systemd unit passes systemd-analyze verify" unit_verify
