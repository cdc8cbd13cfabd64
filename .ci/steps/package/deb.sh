# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The Debian packages: build, lintian, control fields, contents, binaries, a run from each.
# Sourced by .ci/steps/package.sh, which builds and unpacks them.

# No errors and no warnings; overridden tags must carry their reason in the
# package's override file. Informational tags are shown and kept.
deb_lintian() {
    local deb out
    deb=$(deb_of "$1")
    # --fail-on none: the status then tells only whether lintian itself
    # worked (with --show-overrides, 2.116 fails on overridden tags too);
    # errors and warnings are read from its output.
    out=$(lintian --fail-on none --display-info --show-overrides --color never "$deb" 2>&1) ||
        die "lintian did not run: $out"
    grep -v '^running with root privileges' <<<"$out" || true
    ! grep -q '^[EW]: ' <<<"$out" || die "lintian reports errors or warnings"
}

deb_fields() {
    local deb arch=$1
    deb=$(deb_of "$arch")
    f() { dpkg-deb -f "$deb" "$1"; }
    [[ $(f Package) == pixvane ]] || die "Package: $(f Package)"
    [[ $(f Architecture) == "$arch" ]] || die "Architecture: $(f Architecture), want $arch"
    [[ $(f Section) == admin ]] || die "Section: $(f Section)"
    [[ $(f Priority) == optional ]] || die "Priority: $(f Priority)"
    [[ $(f Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || die "Maintainer: $(f Maintainer)"
    [[ $(f Version) =~ ^[0-9]+\.[0-9]+\.[0-9]+ ]] || die "Version: $(f Version)"
    [[ -z $(f Depends) ]] || die "a static pixvane needs no Depends, got: $(f Depends)"
    # Synopsis and an extended description of its own.
    local synopsis
    synopsis=$(f Description | sed -n 1p)
    [[ $synopsis == "set the colour depth of the framebuffer /dev/fb/0" ]] ||
        die "Description synopsis: $synopsis"
    (($(f Description | wc -l) >= 5)) || die "Description has no extended text"
}

deb_contents() {
    local deb arch=$1 list root hdr
    root=$(unpacked "$arch")
    deb=$(deb_of "$arch")
    list=$(dpkg-deb -c "$deb")
    grep -Eq '^-rwxr-xr-x root/root .* \./usr/sbin/pixvane$' <<<"$list" ||
        die "no executable ./usr/sbin/pixvane owned by root"
    for p in ./usr/share/man/man8/pixvane.8.gz \
        ".$DEB_UDEV_RULES_DIR/60-pixvane-fb.rules" \
        ".$DEB_UNIT_DIR/pixvane@.service" \
        ".$DEB_UNIT_DIR/pixvane-group.service" \
        ./usr/share/doc/pixvane/copyright \
        ./usr/share/doc/pixvane/changelog.gz \
        ./usr/share/doc/pixvane/examples/mdev.conf \
        ./usr/share/doc/pixvane/examples/inittab \
        ./usr/share/doc/pixvane/examples/pixvane.init \
        ./usr/share/lintian/overrides/pixvane; do
        grep -Eq "^-rw-r--r-- root/root .* ${p//./\\.}$" <<<"$list" || die "no 0644 file $p"
    done
    ! grep -Eq '\./usr/local/|\.8$' <<<"$list" || die "a file under /usr/local or an uncompressed page"
    ! grep -Eq ' \./lib/' <<<"$list" || die "a file under /lib, trixie's aliased location: $list"
    # Each file once, and nothing under /lib, which is /usr/lib on a merged /usr.
    (($(grep -c -e '/pixvane@\.service$' -e '/60-pixvane-fb\.rules$' <<<"$list") == 2)) ||
        die "the unit or the rule twice: $list"

    # man-db renders the installed page as a reader sees it.
    local rendered
    rendered=$(MANWIDTH=80 man -l "$root/usr/share/man/man8/pixvane.8.gz" 2>&1 | col -b)
    grep -q '^ *QUIL_VO: seted bpp on FB$' <<<"$rendered" ||
        die "man -l does not render the packaged page: $rendered"
    # The page is the one in the tree, compressed without name or time stamp.
    hdr=$(od -An -tx1 -N8 "$root/usr/share/man/man8/pixvane.8.gz" | tr -d ' \n')
    [[ $hdr == 1f8b080000000000 ]] || die "man page gzip header $hdr: not made with gzip -n"
    gzip -dc "$root/usr/share/man/man8/pixvane.8.gz" | cmp -s - "$MAN" ||
        die "the packaged page differs from man/pixvane.8"
    grep -q '/usr/sbin/pixvane "\$@"' "$root/usr/libexec/pixvane/pixvane-unit" ||
        die "the wrapper does not run /usr/sbin/pixvane"
    grep -qx 'ExecStart=/usr/libexec/pixvane/pixvane-unit %i' "$root$DEB_UNIT_DIR/pixvane@.service" ||
        die "the unit does not start the wrapper"
}

# Every package carries the licence, in the machine-readable copyright file:
# the MIT terms of LICENSE, word for word, and no second licence file.
deb_licence() {
    local copyright text
    copyright=$(unpacked "$1")/usr/share/doc/pixvane/copyright
    [[ -f $copyright ]] || die "no copyright file in the package"
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" ||
        die "copyright is not in the machine-readable format"
    grep -qx 'Files: \*' "$copyright" || die "copyright has no 'Files: *' paragraph"
    grep -qx 'Copyright: 2026 Qor-EN' "$copyright" || die "copyright names no holder"
    (($(grep -cx 'License: MIT' "$copyright") == 2)) ||
        die "copyright lacks 'License: MIT' for Files: * and the paragraph with its text"
    # The text paragraph, unfolded, against the licence's permission notice.
    text=$(awk '/^License: MIT$/ { n++; next } n == 2' "$copyright" | sed 's/^ //; s/^\.$//')
    [[ $text == "$(sed -n '/^Permission/,$p' "$SRC/LICENSE")" ]] ||
        die "the licence text in copyright differs from LICENSE"
    [[ ! -e $(unpacked "$1")/usr/share/doc/pixvane/LICENSE ]] || die "a second licence file in the package"
}

# The binary is for the package's architecture, static, on musl, with its
# version ident; on armel and armhf ARMv5TE code, which every 32-bit ARM runs.
deb_binary() {
    local arch=$1 bin machine attrs
    bin=$(unpacked "$arch")/usr/sbin/pixvane
    [[ -x $bin ]] || die "no executable usr/sbin/pixvane in the package"
    machine=$(readelf -h "$bin" | sed -n 's/^ *Machine: *//p')
    case $arch in
    amd64) [[ $machine == "Advanced Micro Devices X86-64" ]] ;;
    arm64) [[ $machine == AArch64 ]] ;;
    armel | armhf) [[ $machine == ARM ]] ;;
    esac || die "ELF machine '$machine' in the $arch package"
    local headers
    headers=$(readelf -l "$bin")
    ! grep -q 'Requesting program interpreter' <<<"$headers" || die "not static"
    strings "$bin" | grep -q '^@(#) pixvane [0-9]' || die "no '@(#) pixvane' version ident"
    # Every static glibc start-up reads the GLIBC_TUNABLES variable.
    ! strings "$bin" | grep -q 'GLIBC_TUNABLES' || die "a glibc binary, not the musl build"
    if [[ $arch == armel || $arch == armhf ]]; then
        attrs=$(readelf -A "$bin")
        grep -q 'Tag_CPU_arch: v5TE$' <<<"$attrs" || die "not built for ARMv5TE: $attrs"
        ! grep -q 'Tag_FP_arch' <<<"$attrs" || die "uses a floating-point unit: $attrs"
    fi
}

# run_unpacked ARCH [RUNNER...]: with no framebuffer here, the whole output is
# the banner, an empty line and the open failure; the status is 1.
run_unpacked() {
    local arch=$1 status=0 out
    shift
    out=$("$@" "$(unpacked "$arch")/usr/sbin/pixvane" 16) || status=$?
    [[ $status -eq 1 ]] || die "exit status $status, want 1"
    [[ $out == $'Pixvane by Qor-EN\n\nQUIL_VO: Can\'t open /dev/fb/0' ]] ||
        die "output was: $out"
}

for arch in amd64 armel armhf arm64; do
    check "$arch: lintian" deb_lintian "$arch"
    check "$arch: control fields" deb_fields "$arch"
    check "$arch: contents" deb_contents "$arch"
    check "$arch: binary" deb_binary "$arch"
    check "$arch: licence" deb_licence "$arch"
done

if [[ -e /dev/fb/0 ]]; then
    check_skip "running the unpacked packages: this machine has a /dev/fb/0"
else
    check "amd64: runs from the unpacked package" run_unpacked amd64
    check "arm64: runs from the unpacked package under qemu" run_unpacked arm64 qemu-aarch64-static
    # Every 32-bit ARM package runs on ARMv5TE (ARM926), ARMv6 (ARM1176, the Raspberry Pi
    # Zero and 1) and ARMv7.
    for arch in armel armhf; do
        for cpu in arm926 arm1176 cortex-a7; do
            check "$arch: runs from the unpacked package under qemu-arm -cpu $cpu" \
                run_unpacked "$arch" qemu-arm-static -cpu "$cpu"
        done
    done
fi
