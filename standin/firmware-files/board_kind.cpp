// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "board_kind.hpp"

#include "settings.hpp"

namespace wpisim
{

namespace
{

// Addresses and bits from avr-libc's part headers (iom328p.h, iomxx0_1.h);
// pins from the Arduino core's variants (standard, mega).
constexpr PwmPin uno_d5{'D', 5, 0x44, 5, 0x48};  // PD5, timer 0's OC0B
constexpr PwmPin uno_d6{'D', 6, 0x44, 7, 0x47};  // PD6, timer 0's OC0A
constexpr PwmPin mega_d5{'E', 3, 0x90, 7, 0x98}; // PE3, timer 3's OC3A
constexpr PwmPin mega_d6{'H', 3, 0xa0, 7, 0xa8}; // PH3, timer 4's OC4A

// The variants' pins: standard (D0-D7 PD0-7, D8-D13 PB0-5, A0-A5 PC0-5)
// and mega (digital_pin_to_port_PGM and digital_pin_to_bit_mask_PGM).
constexpr const char *uno_ports = "DDDDDDDDBBBBBBCCCCCC";
constexpr const char *uno_bits = "01234567012345012345";
constexpr const char *mega_ports = "EEEEGEHHHHBBBBJJHHDDDDAAAAAAAACCCCCCCCDGGGLLLLLLLLBBBB"
                                   "FFFFFFFFKKKKKKKK";
constexpr const char *mega_bits = "014553345645671010321001234567765432107210765432103210"
                                  "0123456701234567";

// The 328P boards: SS is D10 (PB2), MOSI D11, MISO D12 (PB4), SCK D13; SDA
// and SCL A4 and A5; RX and TX D0 and D1. The Mega: SS D53 (PB0), MOSI D51,
// MISO D50 (PB3), SCK D52; SDA D20, SCL D21; RX and TX D0 and D1 (PE0, PE1).
#define UNO_PINS                                                                                   \
    uno_ports, uno_bits, 14, {'B', 2}, {'B', 3}, {'B', 4}, {'B', 5}, {'C', 4}, {'C', 5}, {'D', 0}, \
    {                                                                                              \
        'D', 1                                                                                     \
    }
#define MEGA_PINS                                                                                  \
    mega_ports, mega_bits, 54, {'B', 0}, {'B', 2}, {'B', 3}, {'B', 1}, {'D', 1}, {'D', 0},         \
        {'E', 0},                                                                                  \
    {                                                                                              \
        'E', 1                                                                                     \
    }
// WPISIM_BOARD's words are their names.
const BoardKind kinds[] = {
    {"uno", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 16000000, 'B', 2, 4, 17, 3, uno_d5, uno_d6,
     5000, UNO_PINS},
    {"nano", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 16000000, 'B', 2, 4, 17, 3, uno_d5,
     uno_d6, 5000, UNO_PINS},
    {"pro-mini", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 16000000, 'B', 2, 4, 17, 3, uno_d5,
     uno_d6, 5000, UNO_PINS},
    {"pro-mini-8mhz", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 8000000, 'B', 2, 4, 17, 3,
     uno_d5, uno_d6, 3300, UNO_PINS},
    {"mega", "atmega2560", "ATmega2560", 6, 0x40000, 4096, 16000000, 'B', 0, 3, 24, 9, mega_d5,
     mega_d6, 5000, MEGA_PINS},
};
#undef UNO_PINS
#undef MEGA_PINS

const ChoiceWords board_words("WPISIM_BOARD", kinds, &BoardKind::name);

} // namespace

const BoardKind *chosen_board_kind()
{
    return setting_row("WPISIM_BOARD", kinds, &BoardKind::name);
}

const BoardKind *find_board_kind(const std::string &name)
{
    return find_row(name, kinds, &BoardKind::name);
}

const BoardKind &default_board_kind()
{
    return kinds[0];
}

std::string board_kind_names()
{
    std::string names;
    for (const BoardKind &k : kinds)
        names += (names.empty() ? "" : ", ") + std::string(k.name);
    return names;
}

std::optional<BoardPin> board_pin(const BoardKind &kind, std::string_view name)
{
    const std::string_view ports = kind.pin_ports;
    if (name.size() == 3 && name[0] == 'P' && name[2] >= '0' && name[2] <= '7') {
        // Only a port pin the board brings out to one of its pins.
        for (std::size_t i = 0; i < ports.size(); ++i)
            if (ports[i] == name[1] && kind.pin_bits[i] == name[2])
                return BoardPin{name[1], static_cast<std::uint8_t>(name[2] - '0')};
        return std::nullopt;
    }
    if (name.empty() || (name[0] != 'D' && name[0] != 'A'))
        return std::nullopt;
    const bool digital = name[0] == 'D';
    const auto count = static_cast<std::uint64_t>(
        digital ? kind.digital_pins : static_cast<int>(ports.size()) - kind.digital_pins);
    // D02 is not a name anyone writes: one spelling per pin.
    if (name.size() > 2 && name[1] == '0')
        return std::nullopt;
    const auto number = decimal(name.substr(1), 0, count - 1);
    if (!number)
        return std::nullopt;
    const std::size_t i = *number + (digital ? 0 : static_cast<std::size_t>(kind.digital_pins));
    return BoardPin{ports[i], static_cast<std::uint8_t>(kind.pin_bits[i] - '0')};
}

std::string board_pin_name(const BoardKind &kind, BoardPin pin)
{
    const std::string_view ports = kind.pin_ports;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (ports[i] == pin.port && kind.pin_bits[i] - '0' == pin.bit) {
            const int n = static_cast<int>(i);
            return n < kind.digital_pins ? "D" + std::to_string(n)
                                         : "A" + std::to_string(n - kind.digital_pins);
        }
    return std::string("P") + pin.port + std::to_string(pin.bit);
}

} // namespace wpisim
