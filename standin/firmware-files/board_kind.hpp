// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The Arduino boards the bench can be: the MCU, its clock (which no firmware
// file records: the kind of board gives it), the SPI slave's pins and the
// pins the board log reports as D5 and D6.

#include <cstdint>
#include <string>

namespace wpisim
{

// An output pin that analogWrite drives from a timer's compare unit.
struct PwmPin {
    char port;            // 'D' for PORTD
    std::uint8_t bit;     // in the port
    std::uint16_t tccra;  // data-space address of the timer's control register A
    std::uint8_t com_bit; // its COMnx1 bit: set while the compare unit drives the pin
    std::uint16_t ocr;    // data-space address of the compare register (low byte)
};

struct BoardKind {
    const char *name; // as the user says it: uno, nano, pro-mini, pro-mini-8mhz, mega
    const char *mcu;  // as simavr and avr-gcc name it
    const char *part; // as people write it, for messages
    unsigned arch;    // avrN in an ELF's e_flags
    std::uint32_t flash_bytes;
    std::uint32_t eeprom_bytes;
    std::uint32_t hz;
    char spi_port; // SS and MISO
    std::uint8_t ss_bit;
    std::uint8_t miso_bit;
    int spi_vector; // SPI_STC_vect's number
    int ss_vector;  // the pin-change vector of SS's port
    PwmPin d5;
    PwmPin d6;
};

// The kind named, or null.
const BoardKind *find_board_kind(const std::string &name);
// The kind WPISIM_BOARD names, or null when it is unset.
const BoardKind *chosen_board_kind();
const BoardKind &default_board_kind();
// "uno, nano, pro-mini, pro-mini-8mhz, mega", for messages.
std::string board_kind_names();

} // namespace wpisim
