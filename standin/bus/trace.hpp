// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "peer.hpp"

#include <memory>

namespace wpisim
{

// With WPISIM_TRACE=FILE, wraps the peer so every transfer is also written
// to FILE as a logic analyzer would record it (VCD): SCLK, MOSI, MISO and CE0
// bit by bit in SPI mode 0, and the board's D5 and D6. Without it, returns
// the peer as it is. A file that cannot be written, or that another run is
// tracing to, ends the process, status 2.
std::unique_ptr<Peer> traced(std::unique_ptr<Peer> peer);

} // namespace wpisim
