// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "peer.hpp"

#include <memory>
#include <string_view>

namespace wpisim
{

// With WPISIM_WIRING set to a fault (no-miso, no-mosi, no-ce0, swapped,
// no-ground, no-firmware), wraps the peer so the bus behaves as a bench
// wired that way; with ok or unset, returns the peer as it is. A value not
// understood ends the process with a message, status 2.
std::unique_ptr<Peer> wired(std::unique_ptr<Peer> peer);

// What a WPISIM_WIRING word names, or null for a word that is not a wiring.
struct Wiring;
const Wiring *find_wiring(std::string_view word);

} // namespace wpisim
