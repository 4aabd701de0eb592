# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Makes wpisim(7): the template's @WPISIM_SETTINGS@ line becomes what
# PAGE_PROGRAM prints from the settings table, run through PAGE_LAUNCHER (a
# cross build's emulator, its words split by '|') if given.
# Usage: cmake [-DPAGE_LAUNCHER=...] -DPAGE_PROGRAM=... -DTEMPLATE=... -DOUT=... -P fill_settings.cmake
string(REPLACE "|" ";" launcher "${PAGE_LAUNCHER}")
execute_process(COMMAND ${launcher} ${PAGE_PROGRAM} OUTPUT_VARIABLE settings RESULT_VARIABLE failed)
if(failed OR settings STREQUAL "")
  message(FATAL_ERROR "${PAGE_PROGRAM} printed no settings (${failed})")
endif()
file(READ ${TEMPLATE} page)
string(REPLACE "@WPISIM_SETTINGS@\n" "${settings}" page "${page}")
file(WRITE ${OUT} "${page}")
