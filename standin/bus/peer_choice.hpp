// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "peer.hpp"

#include <memory>
#include <string_view>

namespace wpisim
{

// The peer chosen by WPISIM_PEER (script, model, loopback, board), or the
// default: the script when WPISIM_REPLIES is set, else the simulated board
// where it is built, else the small model.
std::unique_ptr<Peer> make_peer();

// What a WPISIM_PEER word names, or null for a word that is not a peer.
struct PeerChoice;
const PeerChoice *find_peer(std::string_view word);

} // namespace wpisim
