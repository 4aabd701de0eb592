// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "parley_text.hpp"

#include <hex.hpp>

namespace harness
{

namespace
{

constexpr std::size_t tag_size = std::char_traits<char>::length(reply_tag);

// Where each reply line starts in an output.
std::vector<std::size_t> reply_starts(const std::string &out)
{
    std::vector<std::size_t> starts;
    for (auto at = out.find(reply_tag); at != std::string::npos; at = out.find(reply_tag, at + 1))
        starts.push_back(at);
    return starts;
}

} // namespace

std::string reply(const std::string &two_bytes)
{
    return reply_tag + two_bytes + "\n";
}

std::vector<std::string> reply_pairs(const std::string &out)
{
    std::vector<std::string> pairs;
    for (const std::size_t at : reply_starts(out))
        pairs.push_back(out.substr(at + tag_size, 2));
    return pairs;
}

std::vector<std::int64_t> reply_ns(const Outcome &run)
{
    std::vector<std::int64_t> times;
    for (const std::size_t at : reply_starts(run.out))
        times.push_back(run.arrived_ns(at + tag_size + 2)); // its newline
    return times;
}

OutputTest after_replies(std::size_t count)
{
    return [count](const std::string &out) { return reply_starts(out).size() >= count; };
}

std::string script(const std::vector<std::string> &replies)
{
    std::string text;
    for (const std::string &r : replies)
        text.append(text.empty() ? "" : " ")
            .append(
                wpisim::hex::encode(reinterpret_cast<const unsigned char *>(r.data()), r.size()));
    return text;
}

} // namespace harness
