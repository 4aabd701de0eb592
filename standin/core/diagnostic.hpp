// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The stand-in's own complaints.

#include "message.hpp"

#include <string>

namespace wpisim
{

// "wpisim: what: why" on stderr and as an error line in the call log, then
// exit status 2: the stand-in cannot do what it was asked.
[[noreturn]] void fail(const std::string &what, const std::string &why);

} // namespace wpisim
