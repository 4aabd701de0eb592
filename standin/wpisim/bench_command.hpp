// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>
#include <vector>

namespace wpisim
{

// wpisim check [FILE]: the bench file's errors, or what it describes; the exit status.
int check_command(const std::vector<std::string> &args);

// wpisim wire [GPIO BOARD:PIN [--divider] | --remove GPIO]: the wires, or one
// added or removed in the file's text; the exit status.
int wire_command(const std::vector<std::string> &args);

} // namespace wpisim
