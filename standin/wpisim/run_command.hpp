// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>
#include <vector>

namespace wpisim
{

// wpisim run: a Pi program on a private bench, checked; the exit status.
int run_command(const std::vector<std::string> &args);

} // namespace wpisim
