# 32-bit ARM Linux (armhf, ARMv7: Raspberry Pi 2 and later) with Debian's
# cross compiler, g++-arm-linux-gnueabihf. Programs built here run on this
# machine under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(triple arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_STRIP ${triple}-strip CACHE FILEPATH "")

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
find_program(QEMU_ARM qemu-arm)
if(QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_ARM} -L /usr/${triple})
endif()
