// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "firmware_choice.hpp"
#include "link.hpp"
#include "peer.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// The run's session with the board process, which its SPI transfers and its
// wires share, so the board has them in the order the run made them. Made on
// first use, as make_board_peer(named) makes its board; null where this
// build has no board and none was named. Safe from any thread.
class BoardSession
{
  public:
    virtual ~BoardSession() = default;
    // The Pi's GPIO wired to the board's pins: empty, or why not.
    virtual std::string wire(const std::vector<link::WireEnds> &wires) = 0;
    // What the Pi now puts on a wired GPIO; the board has it at at_ns.
    virtual void pi_pin(int gpio, int side, std::int64_t at_ns) = 0;
    // Runs the board to until_ns, or with stop_at_change to its first change
    // on a wire the Pi reads.
    virtual link::SyncAnswer sync(std::int64_t until_ns, bool stop_at_change) = 0;
    // A request of another bus, and its answer within limit_ns (a working
    // on the way moves the limit on); a board that gives none ends the run.
    virtual link::Message ask_board(const char *what, const std::string &request,
                                    std::int64_t limit_ns) = 0;
};
BoardSession *board_session(bool named);
// A run's link to the board's serial ports on the virtual clock (see
// link::SerialSyncRequest): the board runs only when a run asks.
class SerialLink
{
  public:
    virtual ~SerialLink() = default;
    virtual link::SerialSyncAnswer serial_sync(const link::SerialSyncRequest &req) = 0;
};
// The run's session's, as board_session(false) makes it: null where this
// build has no simulated board.
SerialLink *serial_link();

// The same for the bench's board of that name: wpisim's reset, flash and
// serial of a board but the first. A name not on the bench ends the run.
std::unique_ptr<Peer> make_board_peer_of(const std::string &name, bool reset,
                                         bool *started = nullptr,
                                         const Firmware *firmware = nullptr);

// How the board process of this state directory is, if one runs.
struct BoardStatus {
    link::StatusAnswer answer;
    std::string firmware;
};
// name: the board's on the bench, or empty for the first; answer.name is
// empty when the process has no such board.
std::optional<BoardStatus> board_status(const std::string &name = "");

} // namespace wpisim
