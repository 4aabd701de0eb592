// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The stand-in's own complaints, and how text from outside (a variable's value,
// a path, a line from the simulator) is shown on a terminal and in the call log.

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

// "wpisim: what: why" on stderr and as an error line in the call log, then
// exit status 2: the stand-in cannot do what it was asked.
[[noreturn]] void fail(const std::string &what, const std::string &why);
// For when the call log itself is what failed.
[[noreturn]] void fail_unlogged(const std::string &what, const std::string &why);

} // namespace wpisim
