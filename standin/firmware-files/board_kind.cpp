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

// The 328P boards: SS is D10 (PB2), MISO D12 (PB4). The Mega: D53 (PB0), D50 (PB3).
// WPISIM_BOARD's words are their names.
const BoardKind kinds[] = {
    {"uno", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 16000000, 'B', 2, 4, 17, 3, uno_d5,
     uno_d6},
    {"nano", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 16000000, 'B', 2, 4, 17, 3, uno_d5,
     uno_d6},
    {"pro-mini", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 16000000, 'B', 2, 4, 17, 3, uno_d5,
     uno_d6},
    {"pro-mini-8mhz", "atmega328p", "ATmega328P", 5, 0x8000, 1024, 8000000, 'B', 2, 4, 17, 3,
     uno_d5, uno_d6},
    {"mega", "atmega2560", "ATmega2560", 6, 0x40000, 4096, 16000000, 'B', 0, 3, 24, 9, mega_d5,
     mega_d6},
};

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

} // namespace wpisim
