// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "message.hpp"

#include <cstdio>
#include <cstdlib>

namespace wpisim
{

namespace
{

// Long enough for any sensible path or setting, short enough for one line.
constexpr std::size_t kept_bytes = 128;
// A log value may hold a whole message, quoted values and all.
constexpr std::size_t kept_log_bytes = 1024;

// for_log: only what would break a log line (spaces, control and non-ASCII
// bytes), so text already quoted for a message is not escaped twice.
std::string escaped(std::string_view text, bool for_log)
{
    static constexpr char digits[] = "0123456789abcdef";
    const std::size_t kept = for_log ? kept_log_bytes : kept_bytes;
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < kept; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool printable = c > ' ' && c < 0x7f;
        const bool plain = for_log ? printable : (printable || c == ' ') && c != '\\' && c != '"';
        if (plain) {
            out += static_cast<char>(c);
            continue;
        }
        out += "\\x";
        out += digits[c >> 4];
        out += digits[c & 0xf];
    }
    if (text.size() > kept)
        out += "...";
    return out;
}

} // namespace

std::string quoted(std::string_view text)
{
    std::string out = '"' + escaped(text, false);
    if (text.size() > kept_bytes)
        out.insert(out.size() - 3, 1, '"');
    else
        out += '"';
    return out;
}

std::string log_safe(std::string_view text)
{
    return escaped(text, true);
}

void exit_with(const std::string &what, const std::string &why)
{
    std::fprintf(stderr, "wpisim: %s: %s\n", what.c_str(), why.c_str());
    std::exit(2);
}

} // namespace wpisim
