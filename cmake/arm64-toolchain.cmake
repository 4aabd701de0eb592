# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# 64-bit ARM Linux (arm64: Raspberry Pi 3 and later on a 64-bit OS) with
# Debian's cross compiler, g++-aarch64-linux-gnu. Programs built here run on
# this machine under qemu-aarch64.
set(triple aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(loader /lib/ld-linux-aarch64.so.1)
set(qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
