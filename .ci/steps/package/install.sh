# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# A DESTDIR install as a Buildroot or Yocto recipe makes one.
# Sourced by .ci/steps/package.sh, which defines check, die, SRC and TMP.

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
    grep -q '/usr/sbin/pixvane "\$@"' "$STAGE/usr/libexec/pixvane/pixvane-unit" ||
        die "the wrapper does not run /usr/sbin/pixvane"
    grep -qx 'ExecStart=/usr/libexec/pixvane/pixvane-unit %i' "$STAGE/$UNIT_DIR/pixvane@.service" ||
        die "the staged unit does not start the wrapper"
    # Debian's own files stay in the package.
    [[ ! -e $STAGE/usr/share/doc/pixvane/copyright ]] || die "plain install has the Debian copyright"
    # Nothing outside the stage: every installed path is under DESTDIR.
    ! grep -v "^-- \(Installing\|Up-to-date\): $STAGE/" "$TMP/install-default.log" |
        grep -q '^-- \(Installing\|Up-to-date\):' || die "installed outside DESTDIR"
}
check "DESTDIR install stages sbin, man8, udev rule and unit" destdir_install
