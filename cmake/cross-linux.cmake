# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# What every cross build for ARM Linux with Debian's cross compilers shares.
# The toolchain file that includes this sets triple, CMAKE_SYSTEM_PROCESSOR,
# loader (the target's dynamic loader) and qemu (the emulator's name).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_STRIP ${triple}-strip CACHE FILEPATH "")
# Debian's multiarch directories for the target are /usr/lib/${triple}.
set(CMAKE_LIBRARY_ARCHITECTURE ${triple})

# A Pi sysroot given with CMAKE_SYSROOT is searched first (the real wiringPi
# lives there), then the cross compiler's own root.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_SYSROOT} /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must not hand the host's x86 libraries to an ARM build.
set(ENV{PKG_CONFIG_LIBDIR} "${CMAKE_SYSROOT}/usr/lib/${triple}/pkgconfig:${CMAKE_SYSROOT}/usr/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")

# No binfmt here: tests start ARM programs through the emulator explicitly.
# With the target's C library installed by multiarch (dpkg --add-architecture),
# programs run on it, beside the other multiarch libraries such as simavr's:
# its loader and the cross compiler's libc are different builds, which must
# not be mixed in one process. Without it, the cross compiler's root serves.
include(${CMAKE_CURRENT_LIST_DIR}/SuiteTools.cmake)
suite_tool(QEMU_TARGET ${qemu} PACKAGE qemu-user)
if(QEMU_TARGET)
  if(EXISTS ${loader})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_TARGET})
  else()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_TARGET} -L /usr/${triple})
  endif()
endif()
