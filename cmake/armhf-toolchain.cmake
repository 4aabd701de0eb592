# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# 32-bit ARM Linux (armhf, ARMv7: Raspberry Pi 2 and later) with Debian's
# cross compiler, g++-arm-linux-gnueabihf. Programs built here run on this
# machine under qemu-arm.
set(triple arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(loader /lib/ld-linux-armhf.so.3)
set(qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
