// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "peer_choice.hpp"

#include "board_client.hpp"

#include "diagnostic.hpp"
#include "settings.hpp"

#include <string>

namespace wpisim
{

std::unique_ptr<Peer> make_peer()
{
    const auto replies = setting_text("WPISIM_REPLIES");
    const auto peer = setting_text("WPISIM_PEER");
    if (!peer) {
        if (replies)
            return make_script_peer(replies->c_str());
        if (auto board = make_board_peer(false))
            return board;
        return make_model_peer();
    }
    // Replies given to a peer that never reads them would be a test of nothing.
    if (replies && *peer != "script")
        fail("WPISIM_REPLIES", "only the script peer answers from it, and WPISIM_PEER=" +
                                   quoted(*peer) + " was chosen");
    if (*peer == "script")
        return make_script_peer(replies ? replies->c_str() : "");
    if (*peer == "model")
        return make_model_peer();
    if (*peer == "loopback")
        return make_loopback_peer();
    // The table has refused every other word.
    return make_board_peer(true);
}

} // namespace wpisim
