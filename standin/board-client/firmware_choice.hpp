// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "board_kind.hpp"

#include <memory>
#include <string>

namespace wpisim
{

// The firmware a run gets: WPISIM_FIRMWARE for this run, else what was
// flashed, else the reference firmware this build made; on the kind of board
// WPISIM_BOARD says, else the flash's, else an Uno.
struct Firmware {
    std::string path;
    const BoardKind *kind = nullptr;
    std::string what;                // how messages name it
    std::shared_ptr<const int> hold; // a flash's image stays while this lives
};
Firmware chosen_firmware();

// What was flashed to the board named (empty: the bench's first), on the
// kind of board it was flashed for, or the reference firmware on an Uno when
// nothing was.
Firmware flashed_firmware(const std::string &board = "");

// The reference firmware, which runs until something is flashed: this
// build's, or the installed package's when the stand-in runs from there.
std::string reference_firmware();

} // namespace wpisim
