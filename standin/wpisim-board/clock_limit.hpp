// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "board_kind.hpp"

#include <cstdint>
#include <string>

namespace wpisim
{

// A firmware's answers at one SPI clock, with the exchange swept across
// every phase of each other interrupt the firmware runs (its tick, say),
// one AVR cycle at a time, from a whole exchange before the interrupt to
// well after it: wherever that interrupt can delay the SPI or SS handler.
struct PhaseSweep {
    double sclk_hz = 0;
    long exchanges = 0;
    long wrong = 0;
    long first_wrong_offset = 0; // cycles from the interrupt to CE0 falling
    std::string first_wrong_reply;
    int vector = 0; // of the interrupt the first wrong exchange met
};

// Every exchange sends "ac" or "bd" in turn, a new conversation each, so the
// right answer is always "w0" and the firmware's tick always has a fade step
// to make: its longest path. Empty why when the sweep ran.
PhaseSweep sweep_phases(const std::string &firmware, const BoardKind &kind, double sclk_hz,
                        std::string *why);

} // namespace wpisim
