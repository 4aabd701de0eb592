// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>

namespace wpisim
{

// A pseudo-terminal's master, raw at 9600 baud until a program sets it, its
// slave closed again (so it shows as open only while someone has it) and
// linked as link_path; -1, or the master with why set, when that fails.
int open_terminal(const std::string &link_path, const std::string &what, std::string *why);

} // namespace wpisim
