// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "firmware_choice.hpp"
#include "link.hpp"
#include "peer.hpp"

#include <memory>
#include <optional>
#include <string>

namespace wpisim
{

// The simulated board, or an error when it cannot run. A build without it
// gives null, or an error when the board was asked for by name. reset: as
// WPISIM_BOARD_RESET=1, for wpisim's reset and flash. started, if given: this
// call started the board process, so the board is fresh from reset anyway.
// firmware, if given: this one rather than the run's choice (wpisim flash
// resets the board into what it just flashed, whatever the caller's settings).
std::unique_ptr<Peer> make_board_peer(bool named, bool reset = false, bool *started = nullptr,
                                      const Firmware *firmware = nullptr);

// A run's link to the board's serial ports on the virtual clock (see
// link::SerialSyncRequest): the board runs only when a run asks.
class SerialLink
{
  public:
    virtual ~SerialLink() = default;
    virtual link::SerialSyncAnswer serial_sync(const link::SerialSyncRequest &req) = 0;
};
// The board's, connecting to or starting its process; null when this build
// has no simulated board.
std::unique_ptr<SerialLink> make_serial_link();

// How the board process of this state directory is, if one runs.
struct BoardStatus {
    link::StatusAnswer answer;
    std::string firmware;
};
std::optional<BoardStatus> board_status();

} // namespace wpisim
