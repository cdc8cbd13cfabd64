# SPDX-License-Identifier: MIT
include $(sort $(wildcard $(BR2_EXTERNAL_PIXVANE_PATH)/package/*/*.mk))
