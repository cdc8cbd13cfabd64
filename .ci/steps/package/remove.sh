# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The amd64 package installed into an empty dpkg root and purged again.
# Sourced by .ci/steps/package.sh.

# Purging leaves no file of the package behind, and what a user adds (the
# link of an enabled unit) is theirs: dpkg leaves it alone.
deb_removes_cleanly() {
    local deb root=$TMP/dpkg-root before after
    deb=$(deb_of amd64)
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
    : >"$root/var/lib/dpkg/status"
    before=$(cd "$root" && find . | sort)
    dpkg --root="$root" --force-script-chrootless --force-not-root -i "$deb" >/dev/null ||
        die "dpkg -i into an empty root failed"
    [[ -x $root/usr/sbin/pixvane ]] || die "the install put no usr/sbin/pixvane"
    mkdir -p "$root/etc/systemd/system/dev-fb-0.device.wants"
    ln -s "$DEB_UNIT_DIR/pixvane@.service" \
        "$root/etc/systemd/system/dev-fb-0.device.wants/pixvane@16.service"
    dpkg --root="$root" --force-script-chrootless --force-not-root --purge pixvane >/dev/null ||
        die "dpkg --purge failed"
    after=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o -path ./etc/systemd -prune -o -print |
        sort)
    diff <(grep -v -e '^./var' -e '^./etc' <<<"$before") <(grep -v -e '^./var' -e '^./etc' <<<"$after") ||
        die "files left after the purge"
    [[ -L $root/etc/systemd/system/dev-fb-0.device.wants/pixvane@16.service ]] ||
        die "the purge removed the administrator's link"
}
check "amd64: dpkg --purge removes every file the package installed" deb_removes_cleanly
