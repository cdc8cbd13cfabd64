# SPDX-License-Identifier: MIT
# pixvane: the tool, and in pixvane-boot the integration that sets a depth at boot.
SUMMARY = "Set the colour depth of the framebuffer /dev/fb/0"
DESCRIPTION = "A one-shot tool for embedded Linux boards: it blanks the \
framebuffer behind /dev/fb/0, sets the colour depth given on its command \
line, reads the mode back to check it and reports each stage. pixvane-boot \
sets the depth of PIXVANE_BPP at boot, through a systemd unit or an init \
script; nothing at boot unless a depth is set."
SECTION = "graphics"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=d335ac9b44ed7e596b9131cc96f6e472"

# The depth set at boot, 8 to 32 bits per pixel; empty, nothing at boot.
PIXVANE_BPP ?= ""

# Empty: build the checkout this layer lives in, through externalsrc, which
# takes the whole tree and hashes it (by git where it is a git checkout), so
# that no folder is left out. Set to where release tarballs are kept (a URL
# or a file:// folder): build the pinned release pixvane-${PV}.tar.gz,
# checked against the sum below. The project has no public download site yet.
PIXVANE_RELEASE_SITE ?= ""
EXTERNALSRC ?= "${@'' if d.getVar('PIXVANE_RELEASE_SITE') else \
    os.path.normpath(os.path.join(d.getVar('FILE_DIRNAME'), '../../..'))}"
SRC_URI = "${@'${PIXVANE_RELEASE_SITE}/pixvane-${PV}.tar.gz' if d.getVar('PIXVANE_RELEASE_SITE') else ''}"
# The sum of pixvane-${PV}.tar.gz as "scripts/release --source v${PV}" writes
# it; CI compares the two where the tag is in the clone.
SRC_URI[sha256sum] = "81e6cbd215d3677c9a43de9c2c83d3cc9b518cec61189798151d4b95e97419d0"

# Decided where this line is parsed: set PIXVANE_RELEASE_SITE in local.conf
# or a distro configuration, not in a bbappend.
inherit cmake systemd update-rc.d ${@'' if d.getVar('PIXVANE_RELEASE_SITE') else 'externalsrc'}
# No oe-workdir and oe-logs links in the checkout: Buildroot builds it too.
EXTERNALSRC_SYMLINKS = ""

# systemd and sysvinit as DISTRO_FEATURES has them; busybox init (an
# mdev-busybox image) runs rcS scripts as sysvinit does. udev runs with
# systemd, and otherwise where the device manager is udev: oe-core's sysvinit
# images get it (packagegroup-core-boot's default), mdev-busybox images do not.
PACKAGECONFIG ??= "${@bb.utils.filter('DISTRO_FEATURES', 'systemd sysvinit', d)} \
    ${@'sysvinit' if d.getVar('VIRTUAL-RUNTIME_init_manager') == 'busybox' else ''} \
    ${@'udev' if bb.utils.contains('DISTRO_FEATURES', 'systemd', True, False, d) \
        or (d.getVar('VIRTUAL-RUNTIME_dev_manager') or 'udev') in ('udev', 'eudev', 'systemd') else ''}"
PACKAGECONFIG[systemd] = "-DPIXVANE_INSTALL_SYSTEMD_UNIT=ON -DPIXVANE_SYSTEMD_UNIT_DIR=${systemd_system_unitdir},-DPIXVANE_INSTALL_SYSTEMD_UNIT=OFF"
PACKAGECONFIG[udev] = "-DPIXVANE_INSTALL_UDEV_RULE=ON -DPIXVANE_UDEV_RULES_DIR=${nonarch_base_libdir}/udev/rules.d,-DPIXVANE_INSTALL_UDEV_RULE=OFF"
PACKAGECONFIG[sysvinit] = ","

EXTRA_OECMAKE = "-DBUILD_TESTING=OFF"

# The init script is the build's filled-in copy of the example, which names
# the installed pixvane by its full path. sysvinit links it through
# update-rc.d; busybox init runs /etc/rcS.d as well, but oe-core links
# nothing there without sysvinit, so the link is made here.
do_install:append() {
    if ${@bb.utils.contains('PACKAGECONFIG', 'sysvinit', 'true', 'false', d)}; then
        install -d ${D}${sysconfdir}/init.d ${D}${sysconfdir}/default
        install -m 0755 ${D}${docdir}/${BPN}/examples/pixvane.init ${D}${sysconfdir}/init.d/pixvane
        echo "PIXVANE_BPP=${PIXVANE_BPP}" >${D}${sysconfdir}/default/pixvane
        chmod 0644 ${D}${sysconfdir}/default/pixvane
        if [ -n "${PIXVANE_BPP}" ] && ! ${@bb.utils.contains('DISTRO_FEATURES', 'sysvinit', 'true', 'false', d)}; then
            install -d ${D}${sysconfdir}/rcS.d
            ln -s ../init.d/pixvane ${D}${sysconfdir}/rcS.d/S07pixvane
        fi
    fi
}

# The tool (and the udev rule that makes /dev/fb/0) in pixvane; what sets a
# depth at boot in pixvane-boot, which pixvane pulls in only when a depth is
# set, as rng-tools does with its service.
PACKAGES =+ "${PN}-boot"
FILES:${PN}-boot = "\
    ${systemd_system_unitdir}/pixvane@.service \
    ${systemd_system_unitdir}/pixvane-group.service \
    ${libexecdir}/pixvane \
    ${sysconfdir}/init.d/pixvane \
    ${sysconfdir}/default/pixvane \
    ${sysconfdir}/rcS.d/S07pixvane \
"
CONFFILES:${PN}-boot = "${@bb.utils.contains('PACKAGECONFIG', 'sysvinit', '${sysconfdir}/default/pixvane', '', d)}"
RDEPENDS:${PN}-boot = "${PN}"
PIXVANE_BOOTS = "${@bb.utils.contains_any('PACKAGECONFIG', 'systemd sysvinit', '1', '', d)}"
RRECOMMENDS:${PN} = "${@'${PN}-boot' if d.getVar('PIXVANE_BPP') and d.getVar('PIXVANE_BOOTS') else ''}"

# Without a depth the unit is shipped disabled. oe-core's own policy is
# "disable *" already; this keeps the unit's DefaultInstance from being
# enabled where a distro's policy enables by default.
SYSTEMD_PACKAGES = "${PN}-boot"
SYSTEMD_SERVICE:${PN}-boot = "${@bb.utils.contains('PACKAGECONFIG', 'systemd', \
    'pixvane@%s.service' % (d.getVar('PIXVANE_BPP') or ''), '', d)}"
SYSTEMD_AUTO_ENABLE:${PN}-boot = "${@'enable' if d.getVar('PIXVANE_BPP') else 'disable'}"

# Without a depth the init script is not linked into rcS.d.
INITSCRIPT_PACKAGES = "${@'${PN}-boot' if d.getVar('PIXVANE_BPP') and \
    bb.utils.contains('DISTRO_FEATURES', 'sysvinit', True, False, d) else ''}"
INITSCRIPT_NAME:${PN}-boot = "pixvane"
# Early in rcS: after udev (S03 systemd's, S04 eudev's) and busybox mdev
# (S04) have made the device nodes and modutils.sh (S06) has loaded the
# modules of /etc/modules, one of which may be the framebuffer's driver.
INITSCRIPT_PARAMS:${PN}-boot = "start 07 S ."

python () {
    bpp = d.getVar('PIXVANE_BPP')
    if bpp and bpp not in [str(n) for n in range(8, 33)]:
        raise bb.parse.SkipRecipe("PIXVANE_BPP is '%s'; it must be a depth from 8 to 32, or empty for none" % bpp)
    if bpp and not d.getVar('PIXVANE_BOOTS'):
        bb.warn("PIXVANE_BPP is %s, but PACKAGECONFIG has neither systemd nor sysvinit: nothing sets it at boot" % bpp)
}
