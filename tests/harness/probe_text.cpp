// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "probe_text.hpp"

#include "call_log.hpp"

namespace harness
{

std::vector<std::string> probe_replies(const Outcome &run)
{
    std::vector<std::string> replies;
    std::size_t at = 0;
    for (std::size_t end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = run.out.substr(at, end - at);
        if (line.rfind("2 0 ", 0) == 0)
            replies.push_back(Call{"", {{"in", line.substr(4)}}}.bytes("in"));
    }
    return replies;
}

} // namespace harness
