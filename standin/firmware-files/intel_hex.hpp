// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// Intel HEX as avr-objcopy, the Arduino IDE, arduino-cli and avrdude write
// it, read strictly here: simavr's own reader trusts each record's length and
// address, and a bad file overruns its buffers.

#include <cstdint>
#include <string>
#include <vector>

namespace wpisim
{

struct FlashImage {
    std::vector<std::uint8_t> bytes; // from address 0; 0xff where nothing was written
    std::uint32_t used = 0;          // one past the highest address written
    std::uint32_t written = 0;       // bytes the data records put in the flash
};

// Parses text into an image for a flash of flash_bytes. Empty why when it is
// a whole, valid file that fits; otherwise why not, naming the line.
FlashImage parse_intel_hex(const std::string &text, std::uint32_t flash_bytes, std::string *why);

} // namespace wpisim
