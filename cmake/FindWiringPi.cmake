# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Finds the real wiringPi: wiringPi.h, wiringPiSPI.h and libwiringPi.so. It
# ships no pkg-config file; Debian's package installs to /usr/include and
# /usr/lib, a source install to /usr/local.
#
# Defines WiringPi_FOUND, the imported target WiringPi::WiringPi, and, when
# it is not found, WiringPi_WHY_NOT_FOUND: what is missing, in words.

find_path(WiringPi_INCLUDE_DIR wiringPi.h PATHS /usr/local/include /usr/include)
find_path(WiringPi_SPI_INCLUDE_DIR wiringPiSPI.h PATHS /usr/local/include /usr/include)
find_library(WiringPi_LIBRARY NAMES wiringPi PATHS /usr/local/lib /usr/lib)

set(WiringPi_WHY_NOT_FOUND "")
foreach(missing WiringPi_INCLUDE_DIR:wiringPi.h WiringPi_SPI_INCLUDE_DIR:wiringPiSPI.h
                WiringPi_LIBRARY:libwiringPi.so)
  string(REPLACE ":" ";" missing ${missing})
  list(GET missing 0 variable)
  list(GET missing 1 file)
  if(NOT ${variable})
    list(APPEND WiringPi_WHY_NOT_FOUND "no ${file} in ${CMAKE_SYSROOT}/usr/local or ${CMAKE_SYSROOT}/usr")
  endif()
endforeach()
# A copied Pi root keeps wiringPi's link to an absolute path, which leads
# out of the copy.
if(NOT WiringPi_LIBRARY)
  foreach(dir usr/local/lib usr/lib usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
    set(link ${CMAKE_SYSROOT}/${dir}/libwiringPi.so)
    if(IS_SYMLINK ${link} AND NOT EXISTS ${link})
      file(READ_SYMLINK ${link} target)
      list(APPEND WiringPi_WHY_NOT_FOUND "${link} is a link to ${target}, which is not there \
(copy the Pi's files with rsync --copy-unsafe-links, or make the link relative)")
    endif()
  endforeach()
endif()
list(JOIN WiringPi_WHY_NOT_FOUND "; " WiringPi_WHY_NOT_FOUND)

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
