// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>
#include <vector>

namespace wpisim
{

// wpisim gdb [BOARD] [--port N]: opens the board's stub for avr-gdb and says
// how to attach; the exit status.
int gdb_command(const std::vector<std::string> &args);

} // namespace wpisim
