# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Finds toml++'s headers (libtomlplusplus-dev) for a header-only build.
# Defines Tomlplusplus_FOUND and the imported target Tomlplusplus::Header.
#
# As for simavr, a cross build takes the host's headers, which are the same
# for every architecture: the -dev package of another architecture would
# remove the host's compiler. Only toml++'s folder is shown to the cross
# compiler, through a link in the build tree, never the host's /usr/include.

find_path(Tomlplusplus_INCLUDE_DIR toml++/toml.h)
if(CMAKE_CROSSCOMPILING AND NOT Tomlplusplus_INCLUDE_DIR)
  find_path(Tomlplusplus_HOST_DIR toml++/toml.h PATHS /usr/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(Tomlplusplus_HOST_DIR)
    set(headers ${CMAKE_BINARY_DIR}/host-headers)
    file(MAKE_DIRECTORY ${headers})
    file(CREATE_LINK ${Tomlplusplus_HOST_DIR}/toml++ ${headers}/toml++ SYMBOLIC)
    set(Tomlplusplus_INCLUDE_DIR ${headers} CACHE PATH "toml++'s headers" FORCE)
  endif()
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Tomlplusplus REQUIRED_VARS Tomlplusplus_INCLUDE_DIR)
mark_as_advanced(Tomlplusplus_INCLUDE_DIR Tomlplusplus_HOST_DIR)

if(Tomlplusplus_FOUND AND NOT TARGET Tomlplusplus::Header)
  add_library(Tomlplusplus::Header INTERFACE IMPORTED)
  # As an imported target's, its headers are system headers: their warnings
  # are not ours to fix.
  set_target_properties(Tomlplusplus::Header PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${Tomlplusplus_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS TOML_HEADER_ONLY=1)
endif()
