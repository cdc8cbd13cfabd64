################################################################################
#
# pixvane
#
################################################################################

# SPDX-License-Identifier: MIT

PIXVANE_LICENSE = MIT
PIXVANE_LICENSE_FILES = LICENSE

# Empty release site: the source tree this external tree belongs to, less
# the build directories of its CMake presets, labelled with what it holds
# rather than with the release it may have started from.
PIXVANE_RELEASE_SITE = $(call qstrip,$(BR2_PACKAGE_PIXVANE_RELEASE_SITE))
ifeq ($(PIXVANE_RELEASE_SITE),)
PIXVANE_SITE = $(realpath $(BR2_EXTERNAL_PIXVANE_PATH)/..)
PIXVANE_SITE_METHOD = local
PIXVANE_VERSION := $(or $(shell git -C $(PIXVANE_SITE) describe --always --dirty 2>/dev/null),custom)
else
PIXVANE_VERSION = 0.1.0
PIXVANE_SITE = $(PIXVANE_RELEASE_SITE)
endif

# A source tree (this one, or PIXVANE_OVERRIDE_SRCDIR) is copied without
# its build directories, and legal-info, which archives such a tree with
# only the VCS folders left out, leaves them out too.
PIXVANE_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS = --exclude=/build
pixvane-legal-info: RSYNC_VCS_EXCLUSIONS += $(PIXVANE_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS)

# The unit and the udev rule only on images that have systemd or udev; the
# examples go to /usr/share/doc, which Buildroot removes.
PIXVANE_CONF_OPTS = \
	-DBUILD_TESTING=OFF \
	-DPIXVANE_INSTALL_SYSTEMD_UNIT=$(if $(BR2_INIT_SYSTEMD),ON,OFF) \
	-DPIXVANE_INSTALL_UDEV_RULE=$(if $(BR2_PACKAGE_HAS_UDEV),ON,OFF) \
	-DPIXVANE_SYSTEMD_UNIT_DIR=/usr/lib/systemd/system \
	-DPIXVANE_UDEV_RULES_DIR=/usr/lib/udev/rules.d

ifeq ($(BR2_PACKAGE_PIXVANE_BOOT),y)
define PIXVANE_INSTALL_INIT_SYSV
	$(INSTALL) -D -m 0755 $(PIXVANE_PKGDIR)/S11pixvane \
		$(TARGET_DIR)/etc/init.d/S11pixvane
	mkdir -p $(TARGET_DIR)/etc/default
	printf 'PIXVANE_BPP=%s\nPIXVANE_WAIT=%s\n' \
		$(BR2_PACKAGE_PIXVANE_BOOT_BPP) $(BR2_PACKAGE_PIXVANE_BOOT_WAIT) \
		> $(TARGET_DIR)/etc/default/pixvane
endef
PIXVANE_PRESET = enable pixvane@.service $(BR2_PACKAGE_PIXVANE_BOOT_BPP)
else
# The unit's DefaultInstance would otherwise be enabled by preset-all.
PIXVANE_PRESET = disable pixvane@.service
endif

define PIXVANE_INSTALL_INIT_SYSTEMD
	mkdir -p $(TARGET_DIR)/usr/lib/systemd/system-preset
	echo '$(PIXVANE_PRESET)' \
		> $(TARGET_DIR)/usr/lib/systemd/system-preset/50-pixvane.preset
endef

$(eval $(cmake-package))
