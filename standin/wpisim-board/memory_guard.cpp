// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "memory_guard.hpp"

#include <cstdlib>
#include <cstring>

namespace wpisim
{

namespace
{

// A 16-bit pointer plus the largest displacement (63).
constexpr std::size_t data_space = 0x10000 + 64;
// A 16-bit word address in bytes, plus the second word of a 32-bit opcode.
constexpr std::size_t code_space = 0x40000 + 4; // the ATmega2560: 17 bits of word address

void widen(uint8_t *&buffer, std::size_t used, std::size_t size, int fill)
{
    if (used >= size)
        return;
    auto *wider = static_cast<uint8_t *>(std::malloc(size));
    if (wider == nullptr)
        return;
    std::memcpy(wider, buffer, used);
    std::memset(wider + used, fill, size - used);
    // simavr allocates with malloc and frees with free; the same holds for ours.
    std::free(buffer);
    buffer = wider;
}

} // namespace

void widen_memory(avr_t *avr)
{
    widen(avr->data, avr->ramend + 1U, data_space, 0);
    // Erased flash reads as 0xff.
    widen(avr->flash, avr->flashend + 1U, code_space, 0xff);
}

} // namespace wpisim
