// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// parley's text, byte for byte: the one place the tests and the benchmark know it.

#include "program_run.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace harness
{

// The two prompts, as parley writes them.
constexpr const char *prompts = "out0 -> a/b ?\nout1 -> c/d ?\n";

// What starts each reply line; the two received bytes and a newline follow.
constexpr const char *reply_tag = " arduino dit :";

// The reply line parley writes for a pair of received bytes.
std::string reply(const std::string &two_bytes);

// The two received bytes of each reply line in a program's output, in order.
std::vector<std::string> reply_pairs(const std::string &out);

// When each reply line of a run had fully arrived, in order.
std::vector<std::int64_t> reply_ns(const Outcome &run);

// Holds once the output has this many reply lines.
OutputTest after_replies(std::size_t count);

// WPISIM_REPLIES for the given replies, one per transfer, e.g. {"w0", "i3"}.
std::string script(const std::vector<std::string> &replies);

} // namespace harness
