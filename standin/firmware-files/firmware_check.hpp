// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// A firmware file is read here before the simulator sees it: simavr's ELF
// reader trusts every offset and size in the file, and a bad one crashes the
// program that loaded it.

#include "board_kind.hpp"

#include <cstdint>
#include <string>

namespace wpisim
{

// Empty when the file is firmware this kind of board can run: Intel HEX whose
// every record is sound and whose data fits the board's flash, or an ELF of
// AVR code for the board's MCU, as avr-libc's device note or a .mmcu section
// says, with every header, section and string table inside the file.
// Otherwise why not, in a few words. content, if given, receives the bytes
// that were checked; flash_bytes, the bytes the firmware puts in the flash
// (a HEX's data bytes, an ELF's .text and .data), as avrdude counts them.
std::string firmware_problem(const std::string &path, const BoardKind &kind,
                             std::string *content = nullptr, std::uint32_t *flash_bytes = nullptr);

} // namespace wpisim
