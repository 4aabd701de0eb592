// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The Arduino boards the bench can be: the MCU, its clock (which no firmware
// file records: the kind of board gives it), the SPI slave's pins and the
// pins the board log reports as D5 and D6; its Arduino pins, its logic
// level and the pins its SPI, TWI and UART0 take.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// A pin of the MCU: port letter and bit.
struct BoardPin {
    char port;
    std::uint8_t bit;
};

inline bool operator==(BoardPin a, BoardPin b)
{
    return a.port == b.port && a.bit == b.bit;
}

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
    int millivolts; // the logic level its outputs drive
    // The Arduino pins D0, D1... then A0, A1...: port letters and bit digits,
    // one character a pin, as the core's variant orders them.
    const char *pin_ports;
    const char *pin_bits;
    int digital_pins; // how many are D pins; the rest are A pins
    BoardPin spi_ss, spi_mosi, spi_miso, spi_sck;
    BoardPin twi_sda, twi_scl;
    BoardPin uart_rx, uart_tx;
};

// The kind named, or null.
const BoardKind *find_board_kind(const std::string &name);
// The kind WPISIM_BOARD names, or null when it is unset.
const BoardKind *chosen_board_kind();
const BoardKind &default_board_kind();
// "uno, nano, pro-mini, pro-mini-8mhz, mega", for messages.
std::string board_kind_names();

// The pin an Arduino name (D2, A4) or a port name (PD2) gives, or nullopt
// when the board has no such pin.
std::optional<BoardPin> board_pin(const BoardKind &kind, std::string_view name);
// Its Arduino name: D2, A4; a port name for a pin without one.
std::string board_pin_name(const BoardKind &kind, BoardPin pin);

} // namespace wpisim
