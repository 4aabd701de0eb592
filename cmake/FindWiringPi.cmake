# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Finds the real wiringPi: wiringPi.h, wiringPiSPI.h and libwiringPi.so. It
# ships no pkg-config file; Debian's package installs to /usr/include and
# /usr/lib, a source install to /usr/local.
#
# Defines WiringPi_FOUND and the imported target WiringPi::WiringPi.

find_path(WiringPi_INCLUDE_DIR wiringPi.h PATHS /usr/local/include /usr/include)
find_path(WiringPi_SPI_INCLUDE_DIR wiringPiSPI.h PATHS /usr/local/include /usr/include)
find_library(WiringPi_LIBRARY NAMES wiringPi PATHS /usr/local/lib /usr/lib)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(WiringPi
  REQUIRED_VARS WiringPi_LIBRARY WiringPi_INCLUDE_DIR WiringPi_SPI_INCLUDE_DIR)
mark_as_advanced(WiringPi_INCLUDE_DIR WiringPi_SPI_INCLUDE_DIR WiringPi_LIBRARY)

if(WiringPi_FOUND AND NOT TARGET WiringPi::WiringPi)
  add_library(WiringPi::WiringPi SHARED IMPORTED)
  set_target_properties(WiringPi::WiringPi PROPERTIES
    IMPORTED_LOCATION ${WiringPi_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES "${WiringPi_INCLUDE_DIR};${WiringPi_SPI_INCLUDE_DIR}")
endif()
