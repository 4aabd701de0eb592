// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// How text from outside (a variable's value, a path, a line from the
// simulator) is shown on a terminal and in the call log, and the one way the
// stand-in says it cannot go on.

#include <string>
#include <string_view>

namespace wpisim
{

// Outside text cut to a sane length, in double quotes, with every byte that is
// not printable ASCII (and the quote and backslash) written as \xNN, so one
// line stays one line and no escape sequence reaches the terminal.
std::string quoted(std::string_view text);

// The same for a value in the call log, where a space would end the field:
// no quotes; spaces, control and non-ASCII bytes as \xNN.
std::string log_safe(std::string_view text);

// "wpisim: what: why" on stderr, then exit status 2. Nothing is logged: this
// is also how the call log itself fails.
[[noreturn]] void exit_with(const std::string &what, const std::string &why);

} // namespace wpisim
