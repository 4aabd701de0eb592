# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# How a user's own program finds the stand-in in this build tree, the two
# usual ways: pkg-config (lib/pkgconfig/wiringPi.pc) and CMake
# (find_package(wiringPi CONFIG) with wiringPi_DIR set to the build tree).
# Both point into the build, as the stand-in is never installed. The CMake
# target is plain `wiringPi`, so the same target_link_libraries line links
# -lwiringPi on a Pi, where no such package exists.
include_guard(GLOBAL)

# The runpath in Libs lets a program built this way start without
# LD_LIBRARY_PATH.
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/lib/pkgconfig/wiringPi.pc CONTENT
"# The wiringPi stand-in of ${PROJECT_SOURCE_DIR}, built in ${PROJECT_BINARY_DIR}.
libdir=$<TARGET_FILE_DIR:wiringPi>
includedir=${PROJECT_SOURCE_DIR}/standin/include

Name: wiringPi
Description: wiringPi 3.14's calls on a simulated Raspberry Pi bench
Version: 3.14
Cflags: -I\${includedir}
Libs: -L\${libdir} -Wl,-rpath,\${libdir} -lwiringPi
")

export(TARGETS wiringPi FILE ${PROJECT_BINARY_DIR}/wiringPiTargets.cmake)
file(WRITE ${PROJECT_BINARY_DIR}/wiringPiConfig.cmake
"# The wiringPi stand-in of this build tree: target wiringPi.
include(\${CMAKE_CURRENT_LIST_DIR}/wiringPiTargets.cmake)
")
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/wiringPiConfigVersion.cmake VERSION 3.14
                                 COMPATIBILITY SameMajorVersion)
