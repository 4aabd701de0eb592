// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>
#include <vector>

namespace wpisim
{

// wpisim flash, in the bench's words or avrdude's; the exit status.
int flash_command(const std::vector<std::string> &args);

} // namespace wpisim
