// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The call log's byte fields and WPISIM_REPLIES are lower-case hex, two digits
// a byte; the stand-in, the tests and the probe all read and write them here.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wpisim::hex
{

inline std::string encode(const unsigned char *data, std::size_t len)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * len);
    for (std::size_t i = 0; i < len; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xf];
    }
    return out;
}

inline int digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Nothing for text that is not an even number of hex digits.
inline std::optional<std::vector<unsigned char>> decode(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<unsigned char> out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = digit(text[i]);
        const int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<unsigned char>(hi << 4 | lo));
    }
    return out;
}

} // namespace wpisim::hex
