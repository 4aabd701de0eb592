// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "intel_hex.hpp"

#include "hex.hpp"

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

std::string hex2(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xff);
    return text;
}

// One record's bytes from its line (without the colon), or why not.
std::string record_bytes(const std::string &line, std::vector<std::uint8_t> *bytes)
{
    for (const char c : line)
        if (hex::digit(c) < 0)
            return "a character that is not a hex digit";
    if (line.size() % 2 != 0)
        return "an odd number of hex digits";
    for (std::size_t i = 0; i < line.size(); i += 2)
        bytes->push_back(
            static_cast<std::uint8_t>(hex::digit(line[i]) * 16 + hex::digit(line[i + 1])));
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

// A data record's bytes into the image; why not, when they do not fit.
std::string store(FlashImage &image, std::vector<bool> &written, std::uint32_t base,
                  std::uint32_t address, const std::uint8_t *payload, unsigned length)
{
    const auto flash_bytes = static_cast<std::uint32_t>(written.size());
    for (unsigned i = 0; i < length; ++i) {
        const std::uint32_t a = base + ((address + i) & 0xffff);
        if (a >= flash_bytes)
            return "data at " + address_text(a) + ", beyond the board's " +
                   std::to_string(flash_bytes / 1024) + " KiB of flash";
        if (written[a])
            return "writes address " + address_text(a) + " a second time";
        written[a] = true;
        ++image.written;
        image.bytes[a] = payload[i];
        image.used = std::max(image.used, a + 1);
    }
    return "";
}

// The file as it is read: where the next data goes, and what was written.
struct Reader {
    FlashImage image;
    std::vector<bool> written;
    std::uint32_t base = 0;
    bool ended = false;

    // One record, its bytes checked; why it cannot be taken.
    std::string take(const std::vector<std::uint8_t> &r)
    {
        const unsigned length = r[0];
        const auto address = static_cast<std::uint32_t>(r[1] << 8 | r[2]);
        const unsigned type = r[3];
        const std::uint8_t *payload = r.data() + 4;
        switch (type) {
        case data:
            return store(image, written, base, address, payload, length);
        case end_of_file:
            ended = true;
            return length != 0 ? "an end-of-file record with data" : "";
        case segment:
        case linear:
            if (length != 2)
                return "an address record of " + std::to_string(length) + " bytes, not 2";
            base = static_cast<std::uint32_t>(payload[0] << 8 | payload[1])
                   << (type == segment ? 4 : 16);
            return "";
        case start_segment:
        case start_linear:
            // Where a PC would start; an AVR starts at 0 or its bootloader.
            return length != 4
                       ? "a start address record of " + std::to_string(length) + " bytes, not 4"
                       : "";
        default:
            return "a record of unknown type " + hex2(type);
        }
    }
};

// One line, without its line end; why it cannot be taken.
std::string take_line(Reader &reader, const std::string &line)
{
    if (reader.ended)
        return line.empty() ? "" : "a record after the end-of-file record";
    if (line.empty() || line[0] != ':')
        return "not a record (it does not start with ':')";
    std::vector<std::uint8_t> r;
    if (auto bad = record_bytes(line.substr(1), &r); !bad.empty())
        return bad;
    return reader.take(r);
}

} // namespace

FlashImage parse_intel_hex(const std::string &text, std::uint32_t flash_bytes, std::string *why)
{
    Reader reader;
    reader.image.bytes.assign(flash_bytes, 0xff);
    reader.written.assign(flash_bytes, false);
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        // Editors and tools leave blanks and CRs at a line's end, which avrdude skips too.
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (auto bad = take_line(reader, line); !bad.empty()) {
            *why = "line " + std::to_string(number) + ": " + bad;
            return FlashImage{};
        }
    }
    if (!reader.ended) {
        *why = "no end-of-file record: the file was cut short";
        return FlashImage{};
    }
    if (reader.image.used == 0) {
        *why = "no data in it";
        return FlashImage{};
    }
    why->clear();
    FlashImage image = std::move(reader.image);
    image.bytes.resize(image.used);
    return image;
}

} // namespace wpisim
