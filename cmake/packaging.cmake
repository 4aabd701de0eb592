# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Install layout and the Debian package.
include(GNUInstallDirs)
# A PC build's programs run against the stand-in, which is never installed:
# they run from the build tree, and an install there holds their pages. A
# cross build or one against the real library installs them, for the Pi.
if(PARLEY_WIRINGPI STREQUAL "real" OR CMAKE_CROSSCOMPILING)
  install(TARGETS parley allumer eteindre RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The changelog kept as NEWS, compressed as Debian installs it, and the
# licence in Debian's machine-readable form.
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/NEWS > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/NEWS
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parley)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SPI console and pin switches for a Raspberry Pi and an Arduino")
set(CPACK_PACKAGE_DESCRIPTION "parley exchanges two operator-chosen bytes with an Arduino on SPI
channel 0 until the board answers 'i'; allumer and eteindre drive GPIO 17
(wiringPi pin 0) high and low.")
set(CPACK_PACKAGE_CONTACT "${PARLEY_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PARLEY_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

set(readelf readelf)
if(CMAKE_READELF)
  set(readelf ${CMAKE_READELF})
endif()
# Depends is worked out when the package is made, from the binaries it
# installs; cpack reads this file then.
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/package-depends.cmake CONTENT "
execute_process(
  COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/depends ${PARLEY_DEB_ARCH} ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}
          $<TARGET_FILE:parley> $<TARGET_FILE:allumer> $<TARGET_FILE:eteindre>
  OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR \"The package's dependencies could not be worked out (dpkg-shlibdeps is in dpkg-dev)\")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS \"\${depends}\")

# Programs linked for ARMv7 or later (Debian's armhf compiler: its start-up
# files and libgcc are ARMv7 whatever -march says) get the preinst that
# refuses an ARMv6 Pi; a native build on Raspberry Pi OS is ARMv6 and runs
# on every Pi.
if(\"${PARLEY_DEB_ARCH}\" STREQUAL \"armhf\")
  execute_process(COMMAND ${readelf} -A $<TARGET_FILE:parley> OUTPUT_VARIABLE attributes)
  if(attributes MATCHES \"Tag_CPU_arch: v([7-9]|[1-9][0-9])\")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/preinst)
  endif()
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package-depends.cmake)
include(CPack)
