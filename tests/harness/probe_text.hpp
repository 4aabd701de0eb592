// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The one place that knows what library_probe prints.

#include "program_run.hpp"

#include <string>
#include <vector>

namespace harness
{

// The bytes clocked back by each two-byte transfer of a library_probe run
// (its "2 0 HEX" lines), as text.
std::vector<std::string> probe_replies(const Outcome &run);

} // namespace harness
