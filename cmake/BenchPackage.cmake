# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# What the wpisim package installs: wpisim; the stand-in and the board
# program in a folder of their own, where no loader looks for a wiringPi; the
# headers apart from a real wiringPi's; the reference firmware as its HEX
# (an AVR ELF is a binary of another architecture to Debian); and what a
# user's own program builds with, pkg-config's wpisim and CMake's
# find_package(wpisim). Every path is relative to where the files lie, so an
# extracted package works where it lies as it does installed.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

install(TARGETS wpisim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT wpisim)
install(TARGETS wpisim-board RUNTIME DESTINATION ${WPISIM_INSTALL_PRIVATE_DIR} COMPONENT wpisim)
install(TARGETS wiringPi LIBRARY DESTINATION ${WPISIM_INSTALL_PRIVATE_DIR} COMPONENT wpisim)
file(GLOB headers ${PROJECT_SOURCE_DIR}/standin/include/*.h)
install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/wpisim COMPONENT wpisim)
get_filename_component(firmware_dir ${WPISIM_INSTALL_FIRMWARE} DIRECTORY)
get_filename_component(firmware_name ${WPISIM_INSTALL_FIRMWARE} NAME)
get_target_property(firmware_hex board_firmware FIRMWARE_HEX)
install(FILES ${firmware_hex} DESTINATION ${firmware_dir} RENAME ${firmware_name} COMPONENT wpisim)

set(pkgconfig_dir ${WPISIM_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH WPISIM_PC_PREFIX /${pkgconfig_dir} /)
string(REGEX REPLACE "/$" "" WPISIM_PC_PREFIX "${WPISIM_PC_PREFIX}")
file(RELATIVE_PATH WPISIM_PC_LIBDIR /${pkgconfig_dir} /${WPISIM_INSTALL_PRIVATE_DIR})
configure_file(${PROJECT_SOURCE_DIR}/packaging/wpisim.pc.in ${PROJECT_BINARY_DIR}/packaging/wpisim.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/wpisim.pc DESTINATION ${pkgconfig_dir} COMPONENT wpisim)

set(cmake_dir ${WPISIM_INSTALL_LIBDIR}/cmake/wpisim)
file(RELATIVE_PATH WPISIM_CMAKE_PREFIX /${cmake_dir} /)
string(REGEX REPLACE "/$" "" WPISIM_CMAKE_PREFIX "${WPISIM_CMAKE_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/wpisimConfig.cmake.in
               ${PROJECT_BINARY_DIR}/packaging/wpisimConfig.cmake @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/wpisimConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/wpisimConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/wpisimConfigVersion.cmake
        DESTINATION ${cmake_dir} COMPONENT wpisim)
