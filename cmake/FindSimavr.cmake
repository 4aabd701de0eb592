# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Finds simavr (its headers and libsimavr) and libelf, which simavr reads
# firmware with. Defines Simavr_FOUND and the imported target Simavr::Simavr.
#
# A cross build on Debian takes the target's libraries from multiarch
# (libsimavr2:armhf, libelf1:armhf and the like, in /usr/lib/<triplet>)
# and the host's headers from libsimavr-dev: installing libsimavr-dev for
# another architecture would remove the host's compiler. The headers are the
# same for every architecture.

find_path(Simavr_INCLUDE_DIR sim_avr.h PATH_SUFFIXES simavr)
find_library(Simavr_LIBRARY NAMES simavr)
find_library(Simavr_ELF_LIBRARY NAMES elf)
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
  set(multiarch /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  find_path(Simavr_INCLUDE_DIR sim_avr.h PATHS /usr/include/simavr
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  # The runtime packages bring the libraries by their sonames only.
  find_library(Simavr_LIBRARY NAMES simavr libsimavr.so.2 PATHS ${multiarch}
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(Simavr_ELF_LIBRARY NAMES elf libelf.so.1 PATHS ${multiarch}
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Simavr
  REQUIRED_VARS Simavr_LIBRARY Simavr_ELF_LIBRARY Simavr_INCLUDE_DIR)
mark_as_advanced(Simavr_INCLUDE_DIR Simavr_LIBRARY Simavr_ELF_LIBRARY)

if(Simavr_FOUND AND NOT TARGET Simavr::Simavr)
  add_library(Simavr::Simavr SHARED IMPORTED)
  # simavr's headers are not -Wpedantic clean; as an imported target's they
  # are system headers, not ours to fix.
  set_target_properties(Simavr::Simavr PROPERTIES
    IMPORTED_LOCATION ${Simavr_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${Simavr_INCLUDE_DIR}
    INTERFACE_LINK_LIBRARIES ${Simavr_ELF_LIBRARY})
endif()
