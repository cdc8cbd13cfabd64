################################################################################
#
# pixvane
#
################################################################################

# SPDX-License-Identifier: MIT

PIXVANE_VERSION = 0.1.0
PIXVANE_LICENSE = MIT
PIXVANE_LICENSE_FILES = LICENSE

# Empty release site: the source tree this external tree belongs to, less
# the build directories of its CMake presets.
PIXVANE_RELEASE_SITE = $(call qstrip,$(BR2_PACKAGE_PIXVANE_RELEASE_SITE))
ifeq ($(PIXVANE_RELEASE_SITE),)
PIXVANE_SITE = $(realpath $(BR2_EXTERNAL_PIXVANE_PATH)/..)
PIXVANE_SITE_METHOD = local
PIXVANE_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS = --exclude=/build
else
PIXVANE_SITE = $(PIXVANE_RELEASE_SITE)
endif

# The unit and the udev rule only on images that have systemd or udev; the
# examples go to /usr/share/doc, which Buildroot removes.
PIXVANE_CONF_OPTS = \
	-DBUILD_TESTING=OFF \
	-DPIXVANE_INSTALL_SYSTEMD_UNIT=$(if $(BR2_INIT_SYSTEMD),ON,OFF) \
	-DPIXVANE_INSTALL_UDEV_RULE=$(if $(BR2_PACKAGE_HAS_UDEV),ON,OFF) \
	-DPIXVANE_SYSTEMD_UNIT_DIR=/usr/lib/systemd/system \
	-DPIXVANE_UDEV_RULES_DIR=/usr/lib/udev/rules.d

PIXVANE_BOOT_BPP = $(BR2_PACKAGE_PIXVANE_BOOT_BPP)

ifneq ($(PIXVANE_BOOT_BPP),0)
# The project's init script, as the install filled it in.
define PIXVANE_INSTALL_INIT_SYSV
	$(INSTALL) -D -m 0755 $(PIXVANE_BUILDDIR)/dist/pixvane.init \
		$(TARGET_DIR)/etc/init.d/S11pixvane
	mkdir -p $(TARGET_DIR)/etc/default
	printf 'PIXVANE_BPP=%s\nPIXVANE_WAIT=%s\n' \
		$(PIXVANE_BOOT_BPP) $(BR2_PACKAGE_PIXVANE_BOOT_WAIT) \
		> $(TARGET_DIR)/etc/default/pixvane
endef

define PIXVANE_INSTALL_INIT_SYSTEMD
	mkdir -p $(TARGET_DIR)/usr/lib/systemd/system-preset
	echo 'enable pixvane@.service $(PIXVANE_BOOT_BPP)' \
		> $(TARGET_DIR)/usr/lib/systemd/system-preset/50-pixvane.preset
endef
endif

$(eval $(cmake-package))
