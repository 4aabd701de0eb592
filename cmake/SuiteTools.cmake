# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# The programs the build and its tests run, each with the Debian package that
# brings it, said once where the program is looked for, so that one test
# checks them all against scripts/packages.txt and dpkg's own records:
#
#   suite_tool(VAR program PACKAGE package)
#     finds the program into VAR, Debian's folders first (those are what the
#     package list installs), and records it with its package;
#   suite_tool_definitions(target VAR...)
#     gives the target's sources VAR, the program's path (its bare name when
#     it was not found), and VAR_PACKAGE, for a test to name what is missing;
#   suite_tools_file(FILE)
#     writes "VAR program package path" for every program recorded, one a
#     line, once the whole project is configured (path empty when not found).
include_guard(GLOBAL)

function(suite_tool var program)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "PACKAGE" "")
  if(NOT arg_PACKAGE OR arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "suite_tool(${var} ${program}): usage: suite_tool(VAR program PACKAGE package)")
  endif()
  get_property(known GLOBAL PROPERTY SUITE_TOOL_${var})
  if(known AND NOT known STREQUAL "${program};${arg_PACKAGE}")
    message(FATAL_ERROR "suite_tool(${var} ${program} PACKAGE ${arg_PACKAGE}): ${var} is already "
                        "recorded as '${known}'")
  endif()
  find_program(${var} ${program} HINTS /usr/bin /bin)
  set_property(GLOBAL PROPERTY SUITE_TOOL_${var} ${program} ${arg_PACKAGE})
  if(NOT known)
    set_property(GLOBAL APPEND PROPERTY SUITE_TOOLS ${var})
  endif()
endfunction()

function(suite_tool_definitions target)
  foreach(var ${ARGN})
    get_property(tool GLOBAL PROPERTY SUITE_TOOL_${var})
    if(NOT tool)
      message(FATAL_ERROR "suite_tool_definitions(${target}): no suite_tool(${var} ...)")
    endif()
    list(GET tool 0 program)
    list(GET tool 1 package)
    set(path "$CACHE{${var}}")
    if(NOT path)
      set(path ${program})
    endif()
    target_compile_definitions(${target} PRIVATE ${var}="${path}" ${var}_PACKAGE="${package}")
  endforeach()
endfunction()

function(suite_tools_file file)
  # A deferred call's arguments are read when it runs: the path goes in now.
  cmake_language(EVAL CODE
    "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL _suite_tools_write [[${file}]])")
endfunction()

function(_suite_tools_write file)
  get_property(vars GLOBAL PROPERTY SUITE_TOOLS)
  set(lines "")
  foreach(var ${vars})
    get_property(tool GLOBAL PROPERTY SUITE_TOOL_${var})
    list(JOIN tool " " tool)
    set(path "$CACHE{${var}}")
    if(NOT path)
      set(path "")
    endif()
    string(APPEND lines "${var} ${tool} ${path}\n")
  endforeach()
  file(WRITE ${file} "${lines}")
endfunction()
