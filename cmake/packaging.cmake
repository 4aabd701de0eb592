# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Install layout and the Debian packages: parley, the programs for the Pi,
# and wpisim, the bench for PCs. Each is a CPack component of its own.
include(GNUInstallDirs)
# A PC build's programs run against the stand-in, which is never installed
# for them: they run from the build tree, and an install there holds their
# pages. A cross build or one against the real library installs them, for
# the Pi.
set(packages)
if(PARLEY_WIRINGPI STREQUAL "real" OR CMAKE_CROSSCOMPILING)
  install(TARGETS parley allumer eteindre RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT parley)
  list(APPEND packages parley)
endif()
if(WPISIM_PACKAGE)
  include(BenchPackage)
  list(APPEND packages wpisim)
endif()

# The changelog kept as NEWS, compressed as Debian installs it, and the
# licence in Debian's machine-readable form, in each package's docs.
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/NEWS > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/NEWS
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT parley)
if(WPISIM_PACKAGE)
  install(FILES ${changelog} ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/wpisim COMPONENT wpisim)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${packages})
set(CPACK_PACKAGE_NAME parley)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's summary is the first line of its description: CPack's DEB
# generator puts a summary of its own before it unless that is CPack's default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_DEBIAN_PARLEY_PACKAGE_NAME parley)
set(CPACK_DEBIAN_PARLEY_DESCRIPTION "SPI console and pin switches for a Raspberry Pi and an Arduino
parley exchanges two operator-chosen bytes with an Arduino on SPI
channel 0 until the board answers 'i'; allumer and eteindre drive GPIO 17
(wiringPi pin 0) high and low.")
set(CPACK_DEBIAN_WPISIM_PACKAGE_NAME wpisim)
set(CPACK_DEBIAN_WPISIM_DESCRIPTION "simulated Raspberry Pi and Arduino bench for wiringPi programs
A stand-in for the wiringPi library that runs a Pi program on a PC against
a simulated GPIO bank and an Arduino Uno (or Nano, Pro Mini, Mega) whose
real AVR firmware runs in simavr, on SPI, I2C, serial and wires. wpisim
flashes the board, wires its pins and shows their state. Programs build
against the stand-in with pkg-config (wpisim) or CMake (find_package).")
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
# Depends is worked out when the packages are made, from the binaries each
# installs; cpack reads this file then.
set(bench_depends "")
if(WPISIM_PACKAGE)
  set(bench_depends "
execute_process(
  COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/depends --without-wiringpi ${PARLEY_DEB_ARCH}
          $<TARGET_FILE_DIR:wiringPi> $<TARGET_FILE:wpisim> $<TARGET_FILE:wpisim-board> $<TARGET_FILE:wiringPi>
  OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR \"The bench package's dependencies could not be worked out (dpkg-shlibdeps is in dpkg-dev)\")
endif()
set(CPACK_DEBIAN_WPISIM_PACKAGE_DEPENDS \"\${depends}\")
")
endif()
set(pi_depends "")
if(parley IN_LIST packages)
  set(pi_depends "
execute_process(
  COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/depends ${PARLEY_DEB_ARCH} ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}
          $<TARGET_FILE:parley> $<TARGET_FILE:allumer> $<TARGET_FILE:eteindre>
  OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR \"The package's dependencies could not be worked out (dpkg-shlibdeps is in dpkg-dev)\")
endif()
set(CPACK_DEBIAN_PARLEY_PACKAGE_DEPENDS \"\${depends}\")
")
endif()
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/package-depends.cmake CONTENT "${pi_depends}${bench_depends}
# Programs linked for ARMv7 or later (Debian's armhf compiler: its start-up
# files and libgcc are ARMv7 whatever -march says) get the preinst that
# refuses an ARMv6 Pi; a native build on Raspberry Pi OS is ARMv6 and runs
# on every Pi.
if(\"${PARLEY_DEB_ARCH}\" STREQUAL \"armhf\")
  execute_process(COMMAND ${readelf} -A $<TARGET_FILE:parley> OUTPUT_VARIABLE attributes)
  if(attributes MATCHES \"Tag_CPU_arch: v([7-9]|[1-9][0-9])\")
    set(CPACK_DEBIAN_PARLEY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/preinst)
  endif()
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package-depends.cmake)
include(CPack)
