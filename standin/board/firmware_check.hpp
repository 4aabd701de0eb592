// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// A firmware file is read here before the simulator sees it: simavr's ELF
// reader trusts every offset and size in the file, and a bad one crashes the
// program that loaded it.

#include <string>

namespace wpisim
{

// Empty when the file is an ELF the simulated board can run: 32-bit AVR code
// for the ATmega328P, as its .mmcu section says, with every header, section
// and string table inside the file. Otherwise why not, in a few words.
// content, if given, receives the bytes that were checked.
std::string firmware_problem(const std::string &path, std::string *content = nullptr);

} // namespace wpisim
