// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "peer_choice.hpp"

#include "board_client.hpp"

#include "diagnostic.hpp"
#include "settings.hpp"

#include <string>

namespace wpisim
{

// WPISIM_PEER's words are these.
struct PeerChoice {
    const char *word;
    std::unique_ptr<Peer> (*make)(const char *replies); // replies: null when unset
};

namespace
{

constexpr PeerChoice peers[] = {
    {"script",
     [](const char *replies) { return make_script_peer(replies != nullptr ? replies : ""); }},
    {"model", [](const char *) { return make_model_peer(); }},
    {"loopback", [](const char *) { return make_loopback_peer(); }},
    {"board", [](const char *) { return make_board_peer(true); }},
};
const ChoiceWords peer_words("WPISIM_PEER", peers, &PeerChoice::word);

} // namespace

const PeerChoice *find_peer(std::string_view word)
{
    return find_row(word, peers, &PeerChoice::word);
}

std::unique_ptr<Peer> make_peer()
{
    const auto replies = setting_text("WPISIM_REPLIES");
    const PeerChoice *peer = setting_row("WPISIM_PEER", peers, &PeerChoice::word);
    if (peer == nullptr) {
        if (replies)
            return make_script_peer(replies->c_str());
        if (auto board = make_board_peer(false))
            return board;
        return make_model_peer();
    }
    // Replies given to a peer that never reads them would be a test of nothing.
    if (replies && std::string_view(peer->word) != "script")
        fail("WPISIM_REPLIES", "only the script peer answers from it, and WPISIM_PEER=" +
                                   quoted(peer->word) + " was chosen");
    return peer->make(replies ? replies->c_str() : nullptr);
}

} // namespace wpisim
