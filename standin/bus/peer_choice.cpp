// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "peer_choice.hpp"

#include "board_client.hpp"

#include "diagnostic.hpp"

#include <cstdlib>
#include <string>

namespace wpisim
{

namespace
{

// Set and not empty: an empty variable counts as unset, as with every WPISIM_* variable.
const char *setting(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

} // namespace

std::unique_ptr<Peer> make_peer()
{
    const char *replies = setting("WPISIM_REPLIES");
    const char *wanted = setting("WPISIM_PEER");
    if (wanted == nullptr) {
        if (replies != nullptr)
            return make_script_peer(replies);
        if (auto board = make_board_peer(false))
            return board;
        return make_model_peer();
    }
    const std::string peer = wanted;
    // Replies given to a peer that never reads them would be a test of nothing.
    if (replies != nullptr && peer != "script")
        fail("WPISIM_REPLIES", "only the script peer answers from it, and WPISIM_PEER=" +
                                   quoted(peer) + " was chosen");
    if (peer == "script")
        return make_script_peer(replies != nullptr ? replies : "");
    if (peer == "model")
        return make_model_peer();
    if (peer == "loopback")
        return make_loopback_peer();
    if (peer == "board")
        return make_board_peer(true);
    fail("WPISIM_PEER=" + quoted(peer), "not a peer (script, model, loopback, board)");
}

} // namespace wpisim
