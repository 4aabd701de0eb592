# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# PARLEY_DEB_ARCH: the Debian architecture the compiler builds for (armhf,
# arm64, amd64), for the package and the platform test. Asked of the compiler,
# not of uname: 32-bit Raspberry Pi OS often runs a 64-bit kernel.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                OUTPUT_VARIABLE target_triplet OUTPUT_STRIP_TRAILING_WHITESPACE)
if(target_triplet MATCHES "^aarch64-.*linux-gnu$")
  set(PARLEY_DEB_ARCH arm64)
elseif(target_triplet MATCHES "^arm.*linux-gnueabihf$")
  set(PARLEY_DEB_ARCH armhf)
elseif(target_triplet MATCHES "^x86_64-.*linux-gnu$")
  set(PARLEY_DEB_ARCH amd64)
else()
  execute_process(COMMAND dpkg --print-architecture
                  OUTPUT_VARIABLE PARLEY_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
message(STATUS "Target: ${target_triplet}, Debian architecture ${PARLEY_DEB_ARCH}")
