# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# buildroot: what the package put into target/ under each init, and the
# pinned release fetched and checked against pixvane.hash.
# Sourced by the runner, which defines die, note, cache, project, outdir.

is_exec() { [[ -f $1 && -x $1 ]]; }
absent() { [[ ! -e $1 ]] || { echo "$1 is there"; return 1; }; }
holds() { grep -qxF -- "$2" "$1" || { echo "$1:"; cat "$1"; return 1; }; }
nothing_of() { # DIR PATTERN: no file under DIR whose path matches PATTERN
    local found
    found=$(cd "$1" && find . -path "$2" | head -n 5)
    [[ -z $found ]] || { echo "$found"; return 1; }
}

check_files() {
    local t=$cache/images/devtmpfs s=$cache/out-systemd/target
    case_name=busybox-files boot_dir=$outdir
    check "busybox: /etc/init.d/S11pixvane is executable" is_exec "$t/etc/init.d/S11pixvane"
    check "busybox: /etc/default/pixvane sets 16" holds "$t/etc/default/pixvane" PIXVANE_BPP=16
    check "busybox: /etc/default/pixvane waits 5 s" holds "$t/etc/default/pixvane" PIXVANE_WAIT=5
    check "busybox: no systemd file of pixvane" nothing_of "$t" '*systemd*pixvane*'
    check "busybox: no unit wrapper" absent "$t/usr/libexec/pixvane/pixvane-unit"
    check "busybox: no udev rule" nothing_of "$t" '*/rules.d/*pixvane*'
    check "busybox: pixvane is in /usr/sbin" is_exec "$t/usr/sbin/pixvane"
    case_name=systemd-files
    check "systemd: the unit is installed" holds "$s/usr/lib/systemd/system/pixvane@.service" 'DefaultInstance=24'
    check "systemd: the group check it requires is installed" test -f "$s/usr/lib/systemd/system/pixvane-group.service"
    check "systemd: its wrapper is executable" is_exec "$s/usr/libexec/pixvane/pixvane-unit"
    check "systemd: the udev rule is installed" test -f "$s/usr/lib/udev/rules.d/60-pixvane-fb.rules"
    check "systemd: a preset enables pixvane@16" holds "$s/usr/lib/systemd/system-preset/50-pixvane.preset" 'enable pixvane@.service 16'
    check "systemd: no init.d script" nothing_of "$s" './etc/init.d/*pixvane*'
    check "systemd: no /etc/default/pixvane" absent "$s/etc/default/pixvane"
    # What Buildroot's systemctl preset-all makes of it, with the host's systemctl.
    if command -v systemctl >/dev/null; then
        rm -rf "$outdir/preset" && cp -a "$s" "$outdir/preset"
        systemctl --root="$outdir/preset" preset pixvane@.service >/dev/null 2>&1 || true
        check "systemd: preset enables pixvane@16 for /dev/fb/0" test -L \
            "$outdir/preset/etc/systemd/system/dev-fb-0.device.wants/pixvane@16.service"
        rm -rf "$outdir/preset"
    fi
}

# The pinned release: the tarball of REF in a file:// site, fetched by
# "make pixvane-source" in an output of its own and checked against
# pixvane.hash; the same with one byte changed must fail.
check_release() {
    local ref=$1 out=$cache/out-release site=$outdir/site
    case_name=release boot_dir=$outdir
    if ! git -C "$project" rev-parse --verify --quiet "$ref^{commit}" >/dev/null; then
        echo "buildroot: the pinned release check was not run: no $ref in this clone"
        return
    fi
    rm -rf "$site" "$out/dl" "$out"/build/pixvane-*
    "$project/scripts/release" --source "$ref" "$site" >/dev/null
    [[ -f $out/.config ]] || br_configure "$out" "BR2_PACKAGE_PIXVANE_RELEASE_SITE=\"file://$site\""
    sed -i "s|^BR2_PACKAGE_PIXVANE_RELEASE_SITE=.*|BR2_PACKAGE_PIXVANE_RELEASE_SITE=\"file://$site\"|" "$out/.config"
    check "the tarball of $ref is fetched and matches pixvane.hash" \
        br_make "$out" BR2_DL_DIR="$out/dl" pixvane-source
    rm -rf "$out/dl" "$out"/build/pixvane-*
    printf 'x' >>"$site"/pixvane-*.tar.gz
    check "a tarball that differs from pixvane.hash is refused" \
        not br_make "$out" BR2_DL_DIR="$out/dl" pixvane-source
}
not() { ! "$@"; }

# Buildroot's own style check over the external tree, from its root.
check_style() {
    case_name=style boot_dir=$outdir
    check "check-package --br2-external: 0 warnings" bash -c 'cd "$1/buildroot" &&
        /usr/bin/python3 "$2/utils/check-package" -b $(find . -type f) 2>&1 | tee /dev/stderr |
        grep -qx "0 warnings generated"' _ "$project" "$cache/buildroot-$br_version"
}

# The template in the source tree, copied as it is, refuses to run.
check_template() {
    case_name=template boot_dir=$outdir
    check "dist/pixvane.init.in run as it is fails, saying why" bash -c \
        '! out=$(sh "$1" start 2>&1) && [[ $out == *"an unfilled template"* ]]' _ "$project/dist/pixvane.init.in"
}
