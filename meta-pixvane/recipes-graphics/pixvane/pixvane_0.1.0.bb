# SPDX-License-Identifier: MIT
# pixvane: the tool, and its boot integration chosen by DISTRO_FEATURES.
SUMMARY = "Set the colour depth of the framebuffer /dev/fb/0"
DESCRIPTION = "A one-shot tool for embedded Linux boards: it blanks the \
framebuffer behind /dev/fb/0, sets the colour depth given on its command \
line, reads the mode back to check it and reports each stage. The package \
sets the depth of PIXVANE_BPP at boot, through a systemd unit or an init \
script, and links /dev/fb/0 to /dev/fb0 with a udev rule where udev runs."
SECTION = "graphics"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=d335ac9b44ed7e596b9131cc96f6e472"

# The depth set at boot, in bits per pixel (8 to 32): the argument of the
# enabled unit pixvane@<depth>.service under systemd, PIXVANE_BPP in
# /etc/default/pixvane for the init script.
PIXVANE_BPP ?= "24"

# Empty: build the checkout this layer lives in. Set to where release
# tarballs are kept (a URL or a file:// folder): build the pinned release
# pixvane-${PV}.tar.gz, checked against the sum below.
PIXVANE_RELEASE_SITE ?= ""

# The checkout, by default the folder that holds this layer. Its files are
# named one by one, so that a build folder or .git in it is neither hashed
# nor copied; the tarball holds the same files under pixvane-${PV}/, which is
# where subdir puts them, so S is the default either way.
PIXVANE_SRCTREE ?= "${@os.path.normpath(os.path.join(d.getVar('FILE_DIRNAME'), '../../..'))}"
FILESEXTRAPATHS:prepend = "${PIXVANE_SRCTREE}:"
PIXVANE_TREE_SRC = "\
    file://CMakeLists.txt;subdir=${BP} \
    file://LICENSE;subdir=${BP} \
    file://app;subdir=${BP} \
    file://vo;subdir=${BP} \
    file://cmake;subdir=${BP} \
    file://dist;subdir=${BP} \
    file://man;subdir=${BP} \
"
PIXVANE_RELEASE_SRC = "${PIXVANE_RELEASE_SITE}/pixvane-${PV}.tar.gz"
SRC_URI = "${@'${PIXVANE_RELEASE_SRC}' if d.getVar('PIXVANE_RELEASE_SITE') else '${PIXVANE_TREE_SRC}'}"
# The sum of pixvane-${PV}.tar.gz as "scripts/release --source v${PV}" writes
# it; CI compares the two where the tag is in the clone.
SRC_URI[sha256sum] = "81e6cbd215d3677c9a43de9c2c83d3cc9b518cec61189798151d4b95e97419d0"

inherit cmake systemd update-rc.d

# udev runs with systemd, and otherwise where the device manager is udev:
# oe-core's sysvinit images get it (packagegroup-core-boot's default),
# mdev-busybox images do not.
PIXVANE_UDEV = "${@'1' if bb.utils.contains('DISTRO_FEATURES', 'systemd', True, False, d) \
    or (d.getVar('VIRTUAL-RUNTIME_dev_manager') or 'udev') in ('udev', 'eudev', 'systemd') else '0'}"

EXTRA_OECMAKE = "\
    -DBUILD_TESTING=OFF \
    -DPIXVANE_INSTALL_SYSTEMD_UNIT=${@bb.utils.contains('DISTRO_FEATURES', 'systemd', 'ON', 'OFF', d)} \
    -DPIXVANE_SYSTEMD_UNIT_DIR=${systemd_system_unitdir} \
    -DPIXVANE_INSTALL_UDEV_RULE=${@'ON' if d.getVar('PIXVANE_UDEV') == '1' else 'OFF'} \
    -DPIXVANE_UDEV_RULES_DIR=${nonarch_base_libdir}/udev/rules.d \
"

# The init script and its settings are the build's filled-in copy of the
# example, which names the installed pixvane by its full path.
do_install:append() {
    if ${@bb.utils.contains('DISTRO_FEATURES', 'sysvinit', 'true', 'false', d)}; then
        install -d ${D}${sysconfdir}/init.d ${D}${sysconfdir}/default
        install -m 0755 ${D}${docdir}/${BPN}/examples/pixvane.init ${D}${sysconfdir}/init.d/pixvane
        echo "PIXVANE_BPP=${PIXVANE_BPP}" >${D}${sysconfdir}/default/pixvane
        chmod 0644 ${D}${sysconfdir}/default/pixvane
    fi
}

FILES:${PN} += "\
    ${@bb.utils.contains('DISTRO_FEATURES', 'systemd', '${systemd_system_unitdir}/pixvane@.service ${systemd_system_unitdir}/pixvane-group.service ${libexecdir}/pixvane/pixvane-unit', '', d)} \
    ${@'${nonarch_base_libdir}/udev/rules.d/60-pixvane-fb.rules' if d.getVar('PIXVANE_UDEV') == '1' else ''} \
    ${@bb.utils.contains('DISTRO_FEATURES', 'sysvinit', '${sysconfdir}/init.d/pixvane ${sysconfdir}/default/pixvane', '', d)} \
"
CONFFILES:${PN} = "${@bb.utils.contains('DISTRO_FEATURES', 'sysvinit', '${sysconfdir}/default/pixvane', '', d)}"

SYSTEMD_SERVICE:${PN} = "pixvane@${PIXVANE_BPP}.service"
SYSTEMD_AUTO_ENABLE:${PN} = "enable"

INITSCRIPT_NAME = "pixvane"
# Early in rcS: after udev (S03 systemd's, S04 eudev's) and busybox mdev
# (S04) have made the device nodes and modutils.sh (S06) has loaded the
# modules of /etc/modules, one of which may be the framebuffer's driver.
INITSCRIPT_PARAMS = "start 07 S ."

python () {
    bpp = d.getVar('PIXVANE_BPP')
    if not bpp.isdigit() or not 8 <= int(bpp) <= 32:
        bb.fatal("PIXVANE_BPP is '%s'; it must be a depth from 8 to 32" % bpp)
}
