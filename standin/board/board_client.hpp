// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "peer.hpp"

#include <memory>

namespace wpisim
{

// The simulated board, or an error when it cannot run. A build without it
// gives null, or an error when the board was asked for by name.
std::unique_ptr<Peer> make_board_peer(bool named);

} // namespace wpisim
