# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# buildroot: what the package put into target/ under each init, and the
# pinned release fetched and checked against pixvane.hash.
# Sourced by the runner, which sources the shell library and defines cache, project, outdir.

is_exec() { [[ -f $1 && -x $1 ]]; }
absent() { [[ ! -e $1 ]] || { echo "$1 is there"; return 1; }; }
holds() { grep -qxF -- "$2" "$1" || { echo "$1:"; cat "$1"; return 1; }; }
nothing_of() { # DIR PATTERN: no file under DIR whose path matches PATTERN
    local found
    found=$(cd "$1" && find . -path "$2" | head -n 5)
    [[ -z $found ]] || { echo "$found"; return 1; }
}

check_files() {
    local t=$cache/images/devtmpfs d=$cache/images/pkg-busybox-default
    case_name=busybox-files boot_dir=$outdir
    check "busybox: /etc/init.d/S11pixvane is executable" is_exec "$t/etc/init.d/S11pixvane"
    check "busybox: /etc/default/pixvane sets 16" holds "$t/etc/default/pixvane" PIXVANE_BPP=16
    check "busybox: /etc/default/pixvane waits 5 s" holds "$t/etc/default/pixvane" PIXVANE_WAIT=5
    check "busybox: no systemd file of pixvane" nothing_of "$t" '*systemd*pixvane*'
    check "busybox: no unit wrapper" absent "$t/usr/libexec/pixvane/pixvane-unit"
    check "busybox: no udev rule" nothing_of "$t" '*/rules.d/*pixvane*'
    check "busybox: pixvane is in /usr/sbin" is_exec "$t/usr/sbin/pixvane"
    case_name=busybox-default-files
    check "busybox, no depth: pixvane is in /usr/sbin" is_exec "$d/usr/sbin/pixvane"
    check "busybox, no depth: no init script runs it" nothing_of "$d" './etc/init.d/*pixvane*'
    check "busybox, no depth: no /etc/default/pixvane" absent "$d/etc/default/pixvane"
    check "busybox, no depth: no systemd file of pixvane" nothing_of "$d" '*systemd*pixvane*'
    local name s
    for name in systemd-default systemd-16; do
        s=$cache/images/pkg-$name
        case_name=$name-files
        check "$name: the unit is installed" holds "$s/usr/lib/systemd/system/pixvane@.service" 'DefaultInstance=24'
        check "$name: the group check it requires is installed" test -f "$s/usr/lib/systemd/system/pixvane-group.service"
        check "$name: its wrapper is executable" is_exec "$s/usr/libexec/pixvane/pixvane-unit"
        check "$name: the udev rule is installed" test -f "$s/usr/lib/udev/rules.d/60-pixvane-fb.rules"
        check "$name: no init.d script" nothing_of "$s" './etc/init.d/*pixvane*'
        check "$name: no /etc/default/pixvane" absent "$s/etc/default/pixvane"
    done
    case_name=systemd-presets
    check "systemd, no depth: the preset disables the unit" holds \
        "$cache/images/pkg-systemd-default/usr/lib/systemd/system-preset/50-pixvane.preset" 'disable pixvane@.service'
    check "systemd, 16: the preset enables pixvane@16" holds \
        "$cache/images/pkg-systemd-16/usr/lib/systemd/system-preset/50-pixvane.preset" 'enable pixvane@.service 16'
    # What Buildroot's target-finalize makes of it: systemctl preset-all over
    # target/, here with the host's systemctl.
    check "systemd, no depth: preset-all enables no pixvane@" eq "$(enabled_after_preset_all systemd-default)" ""
    check "systemd, 16: preset-all enables exactly pixvane@16 for /dev/fb/0" \
        eq "$(enabled_after_preset_all systemd-16)" "dev-fb-0.device.wants/pixvane@16.service"
}

# enabled_after_preset_all NAME: the pixvane units that "systemctl preset-all"
# enables in a copy of images/pkg-NAME, as paths under etc/systemd/system.
enabled_after_preset_all() {
    local r=$outdir/preset
    rm -rf "$r" && cp -a "$cache/images/pkg-$1" "$r"
    systemctl --root="$r" preset-all >"$outdir/preset-$1.log" 2>&1 || {
        echo "systemctl preset-all failed: $(cat "$outdir/preset-$1.log")"
        return
    }
    (cd "$r/etc/systemd/system" 2>/dev/null && find . -name 'pixvane*' | sed 's|^\./||' | sort)
    rm -rf "$r"
}

# The depth option offers 8 to 32 and nothing else, and only where an init
# system can run it: each row's lines go to "make defconfig", and the
# resulting .config must hold (or lack) the row's line.
# init | depth asked | holds or lacks | line
depth_cases=(
    "BUSYBOX|8|holds|BR2_PACKAGE_PIXVANE_BOOT_BPP=8"
    "BUSYBOX|32|holds|BR2_PACKAGE_PIXVANE_BOOT_BPP=32"
    "BUSYBOX|7|holds|BR2_PACKAGE_PIXVANE_BOOT_BPP=16"
    "BUSYBOX|33|holds|BR2_PACKAGE_PIXVANE_BOOT_BPP=16"
    "BUSYBOX|0|holds|BR2_PACKAGE_PIXVANE_BOOT_BPP=16"
    "NONE|16|lacks|BR2_PACKAGE_PIXVANE_BOOT=y"
)
check_depth_choices() {
    local out=$cache/out-kconfig row init bpp op line
    case_name=config boot_dir=$outdir
    mkdir -p "$out"
    for row in "${depth_cases[@]}"; do
        IFS='|' read -r init bpp op line <<<"$row"
        br_defconfig "BR2_INIT_$init=y" BR2_PACKAGE_PIXVANE_BOOT=y "BR2_PACKAGE_PIXVANE_BOOT_BPP=$bpp" >"$out/defconfig"
        br_make "$out" BR2_DEFCONFIG="$out/defconfig" defconfig >"$out/defconfig.log" 2>&1 || die "defconfig failed (log: $out/defconfig.log)"
        if [[ $op == holds ]]; then
            check "init $init, depth $bpp: .config holds '$line'" holds "$out/.config" "$line"
        else
            check "init $init, depth $bpp: .config lacks '$line'" not grep -qxF "$line" "$out/.config"
        fi
    done
}

# legal-info archives the checkout the package builds, without its build
# directories (build/ holds this runner's own output at least).
check_legal_info() {
    local out=$cache/out-pkg list
    case_name=legal-info boot_dir=$outdir
    [[ -d $project/build ]] || die "no $project/build to leave out"
    rm -rf "$out/legal-info"
    br_make "$out" pixvane-legal-info >"$outdir/legal-info.log" 2>&1 || die "pixvane-legal-info failed (log: $outdir/legal-info.log)"
    list=$(tar -tzf "$out"/legal-info/sources/pixvane-*/pixvane-*.tar.gz) || die "no source archive in $out/legal-info"
    check "the checkout's sources are archived" grep -qx 'pixvane-[^/]*/CMakeLists.txt' <<<"$list"
    check "its build/ is not" not grep -q '^pixvane-[^/]*/build/' <<<"$list"
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
