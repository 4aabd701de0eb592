// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "board_kind.hpp"
#include "link.hpp"
#include "peer.hpp"

#include <memory>
#include <optional>
#include <string>

namespace wpisim
{

// The simulated board, or an error when it cannot run. A build without it
// gives null, or an error when the board was asked for by name. reset: as
// WPISIM_BOARD_RESET=1.
std::unique_ptr<Peer> make_board_peer(bool named, bool reset = false);

// The firmware a run gets: WPISIM_FIRMWARE for this run, else what was
// flashed, else the reference firmware this build made; on the kind of board
// WPISIM_BOARD says, else the flash's, else an Uno.
struct Firmware {
    std::string path;
    const BoardKind *kind = nullptr;
    std::string what; // how messages name it
};
Firmware chosen_firmware();

// How the board process of this state directory is, if one runs.
struct BoardStatus {
    link::StatusAnswer answer;
    std::string firmware;
};
std::optional<BoardStatus> board_status();

} // namespace wpisim
