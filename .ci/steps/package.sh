#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages of pixvane for amd64, armhf and arm64 and checks
# them and everything they carry:
#   - the manual page: mandoc and groff lint, rendering, every line the tool
#     can write is documented, the page in the package is gzip -9n;
#   - each package: lintian, its control fields, its contents, the
#     architecture of the binary in it;
#   - the amd64 package unpacked into a throwaway root and run from there
#     (and the ARM ones under qemu-user where it is installed);
#   - a DESTDIR install as Buildroot and Yocto do it;
#   - the systemd unit with systemd-analyze verify;
#   - the udev rule with udevadm test and the busybox mdev line with mdev -s,
#     both on a made-up sysfs in a private mount namespace.
# Build trees: build/deb-<arch> and build/install-default.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
readonly SRC=$PWD
START=$SECONDS

# --- Tools -------------------------------------------------------------------

missing=()
need() { # need COMMAND PACKAGE
    command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need cmake cmake
need ninja ninja-build
need gzip gzip
need dpkg-deb dpkg
need readelf binutils
need mandoc mandoc
need groff groff-base
need man man-db
need col bsdextrautils
need lintian lintian
need systemd-analyze systemd
need udevadm udev
need busybox busybox
need unshare util-linux
need shellcheck shellcheck
need arm-linux-gnueabihf-g++ g++-arm-linux-gnueabihf
need aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# --- Check runner ------------------------------------------------------------

passed=0
failed=0
failures=()
# check NAME FUNCTION ARGS...: runs the function in a subshell with errexit,
# so that any failing command fails the check (die says why). Bash ignores
# errexit in a subshell that is tested by if, && or ||, hence the set +e.
check() {
    local name=$1 rc
    shift
    set +e
    (
        set -e
        "$@"
    )
    rc=$?
    set -e
    if ((rc == 0)); then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        failed=$((failed + 1))
        failures+=("$name")
    fi
}
# die MESSAGE: ends the check (the subshell) that calls it.
die() {
    echo "  $*" >&2
    exit 1
}
# expect_file ROOT PATH: PATH exists under ROOT.
expect_file() {
    [[ -e $1/$2 || -L $1/$2 ]] || die "missing: $2 (in $1)"
}

# --- Manual page -------------------------------------------------------------

MAN=$SRC/man/pixvane.8

man_lint() {
    local out
    # Warnings and errors; style notes such as manuals not installed on this
    # machine are not faults of the page.
    out=$(mandoc -Tlint -W warning "$MAN" 2>&1) || die "mandoc -Tlint failed: $out"
    [[ -z $out ]] || die "mandoc -Tlint: $out"
    out=$(groff -mdoc -ww -z "$MAN" 2>&1) || die "groff failed: $out"
    [[ -z $out ]] || die "groff -ww: $out"
}

# The sections a reader looks for, as headings at the left margin.
man_renders() {
    local text section
    text=$(MANWIDTH=80 mandoc -Tutf8 "$MAN" | col -b)
    for section in NAME SYNOPSIS DESCRIPTION OUTPUT FILES "EXIT STATUS" EXAMPLES BOOT \
        "SEE ALSO" CAVEATS; do
        grep -qx "$section" <<<"$text" || die "rendered page has no $section section"
    done
    grep -q '^ *pixvane \[bpp\]$' <<<"$text" || die "synopsis is not 'pixvane [bpp]'"
}

# Every line the program can write, taken from its sources, is quoted in the
# page letter for letter; printf conversions stand for a word such as
# "wanted". A message changed in the code but not here fails.
man_documents_every_line() {
    local text msg re n=0
    # Quotes around a quoted line render as ` and ' in ASCII.
    local before='(^|[[:space:]`])' after="([[:space:]'.,]|$)"
    text=$(mandoc -Tascii -O width=200 "$MAN" | col -b)
    while IFS= read -r msg; do
        msg=${msg#\"}
        msg=${msg%\"}
        msg=${msg%\\n}
        # Literal text as a regular expression, then %d, %u, %p as a word.
        re=$(sed -e 's/[][\.*^$/]/\\&/g' -e 's/[()]/\\&/g' <<<"$msg")
        re=${re//%d/[a-z]+}
        re=${re//%u/[a-z]+}
        re=${re//%p/[a-z]+}
        grep -Eq -- "$before$re$after" <<<"$text" ||
            die "the page does not quote the line: $msg"
        n=$((n + 1))
    done < <(grep -ohE '"(Pixvane by |QUIL_VO: )[^"]*"' "$SRC"/app/*.cpp "$SRC"/vo/*.cpp | sort -u)
    ((n >= 12)) || die "found only $n message lines in app/ and vo/"
}

check "man page lints clean (mandoc -Tlint, groff -ww)" man_lint
check "man page renders with its sections" man_renders
check "man page quotes every line the tool writes" man_documents_every_line

# --- Debian packages ---------------------------------------------------------

# build_deb ARCH [CMAKE ARGS...]: build/deb-ARCH/packages/pixvane_*_ARCH.deb
build_deb() {
    local arch=$1 dir=$SRC/build/deb-$1
    shift
    rm -rf "$dir"
    cmake -S "$SRC" -B "$dir" -G Ninja \
        -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DPIXVANE_STATIC=ON -DPIXVANE_STRIP=ON -DPIXVANE_WERROR=ON \
        -DBUILD_TESTING=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr \
        -DPIXVANE_UDEV_RULES_DIR=lib/udev/rules.d \
        -DPIXVANE_SYSTEMD_UNIT_DIR=lib/systemd/system \
        "$@" >"$TMP/configure-$arch.log" ||
        { cat "$TMP/configure-$arch.log"; return 1; }
    cmake --build "$dir" >"$TMP/build-$arch.log" || { cat "$TMP/build-$arch.log"; return 1; }
    (cd "$dir" && cpack -G DEB >"$TMP/cpack-$arch.log") || { cat "$TMP/cpack-$arch.log"; return 1; }
}

echo "Building the packages"
build_deb amd64
build_deb armhf -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchains/arm-linux-gnueabihf.cmake"
build_deb arm64 -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchains/aarch64-linux-gnu.cmake"

deb_of() {
    local debs=("$SRC/build/deb-$1/packages/"pixvane_*_"$1".deb)
    [[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || die "expected one pixvane_*_$1.deb, found: ${debs[*]}"
    echo "${debs[0]}"
}

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
    local deb arch=$1 list root=$TMP/contents-$1 hdr
    deb=$(deb_of "$arch")
    list=$(dpkg-deb -c "$deb")
    grep -Eq '^-rwxr-xr-x root/root .* \./usr/sbin/pixvane$' <<<"$list" ||
        die "no executable ./usr/sbin/pixvane owned by root"
    for p in ./usr/share/man/man8/pixvane.8.gz \
        ./usr/lib/udev/rules.d/60-pixvane-fb.rules \
        ./usr/lib/systemd/system/pixvane@.service \
        ./usr/share/doc/pixvane/copyright \
        ./usr/share/doc/pixvane/changelog.gz \
        ./usr/share/doc/pixvane/examples/mdev.conf \
        ./usr/share/doc/pixvane/examples/inittab \
        ./usr/share/doc/pixvane/examples/pixvane.init \
        ./usr/share/lintian/overrides/pixvane; do
        grep -Eq "^-rw-r--r-- root/root .* ${p//./\\.}$" <<<"$list" || die "no 0644 file $p"
    done
    ! grep -Eq '\./usr/local/|\.8$' <<<"$list" || die "a file under /usr/local or an uncompressed page"

    dpkg-deb -x "$deb" "$root"
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
    grep -qx 'ExecStart=/usr/sbin/pixvane %i' "$root/usr/lib/systemd/system/pixvane@.service" ||
        die "the unit does not start /usr/sbin/pixvane"
}

# The binary is for the package's architecture, static, and for armhf built
# for the ARMv7 + VFPv3 hard-float baseline the man page promises.
deb_binary() {
    local arch=$1 bin=$TMP/contents-$1/usr/sbin/pixvane machine attrs
    [[ -x $bin ]] || die "no unpacked $bin (the contents check failed)"
    machine=$(readelf -h "$bin" | sed -n 's/^ *Machine: *//p')
    case $arch in
    amd64) [[ $machine == "Advanced Micro Devices X86-64" ]] ;;
    arm64) [[ $machine == AArch64 ]] ;;
    armhf) [[ $machine == ARM ]] ;;
    esac || die "ELF machine '$machine' in the $arch package"
    local headers
    headers=$(readelf -l "$bin")
    ! grep -q 'Requesting program interpreter' <<<"$headers" || die "not static"
    if [[ $arch == armhf ]]; then
        attrs=$(readelf -A "$bin")
        grep -q 'Tag_CPU_arch: v7$' <<<"$attrs" || die "not built for ARMv7: $attrs"
        grep -q 'Tag_FP_arch: VFPv3' <<<"$attrs" || die "not built for VFPv3: $attrs"
        grep -q 'Tag_ABI_VFP_args: VFP registers' <<<"$attrs" || die "not hard-float: $attrs"
    fi
}

# run_unpacked ARCH [RUNNER...]: with no framebuffer here, the whole output is
# the banner, an empty line and the open failure; the status is 1.
run_unpacked() {
    local arch=$1 status=0 out
    shift
    out=$("$@" "$TMP/contents-$arch/usr/sbin/pixvane" 16) || status=$?
    [[ $status -eq 1 ]] || die "exit status $status, want 1"
    [[ $out == $'Pixvane by Qor-EN\n\nQUIL_VO: Can\'t open /dev/fb/0' ]] ||
        die "output was: $out"
}

for arch in amd64 armhf arm64; do
    check "$arch: lintian" deb_lintian "$arch"
    check "$arch: control fields" deb_fields "$arch"
    check "$arch: contents" deb_contents "$arch"
    check "$arch: binary" deb_binary "$arch"
done

if [[ -e /dev/fb/0 ]]; then
    echo "SKIP: running the unpacked packages: this machine has a /dev/fb/0"
else
    check "amd64: runs from the unpacked package" run_unpacked amd64
    for pair in armhf:qemu-arm-static arm64:qemu-aarch64-static; do
        if command -v "${pair#*:}" >/dev/null; then
            check "${pair%%:*}: runs from the unpacked package under qemu" \
                run_unpacked "${pair%%:*}" "${pair#*:}"
        else
            echo "SKIP: ${pair%%:*} binary not run: no ${pair#*:}"
        fi
    done
fi

# --- DESTDIR install, as a Buildroot or Yocto recipe does it -----------------

STAGE=$TMP/stage
DEFAULT_BUILD=$SRC/build/install-default
rm -rf "$DEFAULT_BUILD"
cmake -S "$SRC" -B "$DEFAULT_BUILD" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF \
    >"$TMP/configure-default.log" || { cat "$TMP/configure-default.log"; exit 1; }
cmake --build "$DEFAULT_BUILD" >"$TMP/build-default.log" || { cat "$TMP/build-default.log"; exit 1; }
DESTDIR=$STAGE cmake --install "$DEFAULT_BUILD" >"$TMP/install-default.log"

# Where pkg-config says, else the defaults under the prefix.
udev_dir=$(pkg-config --variable=udevdir udev 2>/dev/null || true)
unit_dir=$(pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null || true)
UDEV_RULES_DIR=${udev_dir:-/usr/lib/udev}/rules.d
UNIT_DIR=${unit_dir:-/usr/lib/systemd/system}

destdir_install() {
    expect_file "$STAGE" usr/sbin/pixvane
    [[ -x $STAGE/usr/sbin/pixvane ]] || die "usr/sbin/pixvane is not executable"
    expect_file "$STAGE" usr/share/man/man8/pixvane.8.gz
    expect_file "$STAGE" "$UDEV_RULES_DIR/60-pixvane-fb.rules"
    expect_file "$STAGE" "$UNIT_DIR/pixvane@.service"
    expect_file "$STAGE" usr/share/doc/pixvane/examples/mdev.conf
    grep -qx 'ExecStart=/usr/sbin/pixvane %i' "$STAGE/$UNIT_DIR/pixvane@.service" ||
        die "the staged unit does not start /usr/sbin/pixvane"
    # Debian's own files stay in the package.
    [[ ! -e $STAGE/usr/share/doc/pixvane/copyright ]] || die "plain install has the Debian copyright"
    # Nothing outside the stage: every installed path is under DESTDIR.
    ! grep -v "^-- \(Installing\|Up-to-date\): $STAGE/" "$TMP/install-default.log" |
        grep -q '^-- \(Installing\|Up-to-date\):' || die "installed outside DESTDIR"
}
check "DESTDIR install stages sbin, man8, udev rule and unit" destdir_install

# --- systemd unit --------------------------------------------------------------

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

# --- udev rule and mdev line on a made-up sysfs ----------------------------------

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

udev_rule() {
    local rule=$TMP/contents-amd64/usr/lib/udev/rules.d/60-pixvane-fb.rules out name
    [[ -f $rule ]] || die "no unpacked rule"
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
    if [ -L "$f" ]; then echo "$f link $(readlink "$f")"
    elif [ -c "$f" ]; then echo "$f char $(stat -c "%t:%T %G %a" "$f")"
    else echo "$f none"; fi
done
' "$TMP/etc" "$2"
}

mdev_line() {
    local conf=$TMP/contents-amd64/usr/share/doc/pixvane/examples/mdev.conf out
    [[ -f $conf ]] || die "no unpacked mdev.conf"
    # A bare /dev: the node is /dev/fb/0 and /dev/fb0 a link to it.
    out=$(mdev_scan "$conf" "")
    [[ $out == $'fb0 link fb/0\nfb/0 char 1d:0 video 660' ]] || die "bare /dev: $out"
    # devtmpfs made /dev/fb0 already: it stays, and /dev/fb/0 is added.
    out=$(mdev_scan "$conf" "mknod -m 600 /dev/fb0 c 29 0")
    [[ $out == $'fb0 char 1d:0 root 600\nfb/0 char 1d:0 video 660' ]] || die "with devtmpfs node: $out"
    # Without the line mdev makes only /dev/fb0.
    : >"$TMP/empty.conf"
    out=$(mdev_scan "$TMP/empty.conf" "")
    [[ $out == $'fb0 char 1d:0 root 660\nfb/0 none' ]] || die "without the line: $out"
}

if unshare --mount --propagation private true 2>/dev/null; then
    check "udev rule: udevadm test links /dev/fb/0 and tags it for systemd" udev_rule
    check "mdev line: mdev -s makes /dev/fb/0" mdev_line
else
    echo "SKIP: udev rule and mdev line: no private mount namespace here (unshare needs CAP_SYS_ADMIN)"
fi

# --- Shell examples ------------------------------------------------------------

scripts_lint() {
    local init=$STAGE/usr/share/doc/pixvane/examples/pixvane.init
    sh -n "$init" || die "pixvane.init does not parse"
    shellcheck -s sh "$init" || die "shellcheck pixvane.init"
    shellcheck "$SRC/.ci/steps/package.sh" || die "shellcheck package.sh"
}
check "init script example and this script pass shellcheck" scripts_lint

echo
echo "Packages:"
for arch in amd64 armhf arm64; do
    echo "  $(deb_of "$arch")"
done
echo "package.sh took $((SECONDS - START)) s"
echo "package: $passed passed, $failed failed"
if ((failed)); then
    printf 'failed: %s\n' "${failures[@]}"
    exit 1
fi
