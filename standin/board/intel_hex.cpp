// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "intel_hex.hpp"

#include <algorithm>
#include <cstdio>

namespace wpisim
{

namespace
{

enum Type {
    data = 0,
    end_of_file = 1,
    segment = 2,
    start_segment = 3,
    linear = 4,
    start_linear = 5
};

int nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string hex2(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xff);
    return text;
}

// One record's bytes from its line (without the colon), or why not.
std::string record_bytes(const std::string &line, std::vector<std::uint8_t> *bytes)
{
    if (line.size() % 2 != 0)
        return "an odd number of hex digits";
    for (std::size_t i = 0; i < line.size(); i += 2) {
        const int hi = nibble(line[i]);
        const int lo = nibble(line[i + 1]);
        if (hi < 0 || lo < 0)
            return "a character that is not a hex digit";
        bytes->push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    if (bytes->size() < 5)
        return "a record too short to hold its length, address, type and checksum";
    if (bytes->size() != (*bytes)[0] + 5U)
        return "a record whose length says " + std::to_string((*bytes)[0]) + " data bytes, not " +
               std::to_string(bytes->size() - 5);
    unsigned sum = 0;
    for (const std::uint8_t b : *bytes)
        sum += b;
    if ((sum & 0xff) != 0) {
        const unsigned given = bytes->back();
        return "checksum " + hex2(given) + ", not " + hex2(given - sum);
    }
    return "";
}

std::string address_text(std::uint32_t a)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%05x", a);
    return text;
}

} // namespace

FlashImage parse_intel_hex(const std::string &text, std::uint32_t flash_bytes, std::string *why)
{
    FlashImage image;
    image.bytes.assign(flash_bytes, 0xff);
    std::vector<bool> written(flash_bytes, false);
    std::uint32_t base = 0;
    bool ended = false;
    std::size_t number = 0;
    auto at = [&](const std::string &what) {
        *why = "line " + std::to_string(number) + ": " + what;
        return FlashImage{};
    };
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() && ended)
            continue;
        if (ended)
            return at("a record after the end-of-file record");
        if (line.empty() || line[0] != ':')
            return at("not a record (it does not start with ':')");
        std::vector<std::uint8_t> r;
        if (auto bad = record_bytes(line.substr(1), &r); !bad.empty())
            return at(bad);
        const unsigned length = r[0];
        const std::uint32_t address = static_cast<std::uint32_t>(r[1] << 8 | r[2]);
        const unsigned type = r[3];
        const std::uint8_t *payload = r.data() + 4;
        switch (type) {
        case data:
            for (unsigned i = 0; i < length; ++i) {
                const std::uint32_t a = base + ((address + i) & 0xffff);
                if (a >= flash_bytes)
                    return at("data at " + address_text(a) + ", beyond the board's " +
                              std::to_string(flash_bytes / 1024) + " KiB of flash");
                if (written[a])
                    return at("writes address " + address_text(a) + " a second time");
                written[a] = true;
                image.bytes[a] = payload[i];
                image.used = std::max(image.used, a + 1);
            }
            break;
        case end_of_file:
            if (length != 0)
                return at("an end-of-file record with data");
            ended = true;
            break;
        case segment:
        case linear:
            if (length != 2)
                return at("an address record of " + std::to_string(length) + " bytes, not 2");
            base = static_cast<std::uint32_t>(payload[0] << 8 | payload[1])
                   << (type == segment ? 4 : 16);
            break;
        case start_segment:
        case start_linear:
            // Where a PC would start; an AVR starts at 0 or its bootloader.
            if (length != 4)
                return at("a start address record of " + std::to_string(length) + " bytes, not 4");
            break;
        default:
            return at("a record of unknown type " + hex2(type));
        }
    }
    if (!ended) {
        *why = "no end-of-file record: the file was cut short";
        return FlashImage{};
    }
    if (image.used == 0) {
        *why = "no data in it";
        return FlashImage{};
    }
    why->clear();
    image.bytes.resize(image.used);
    return image;
}

} // namespace wpisim
