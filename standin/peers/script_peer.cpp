// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Answers each transfer with the next reply from WPISIM_REPLIES, a list of hex
// strings such as "7730 6633 6933", one per transfer. Once the list is used
// up, the last reply is repeated, as a board that keeps its state would.

#include "diagnostic.hpp"
#include "hex.hpp"
#include "peer.hpp"

#include <cctype>
#include <string>
#include <vector>

namespace wpisim
{

namespace
{

// Says what is wrong with a reply that does not decode.
[[noreturn]] void bad_reply(std::size_t number, const std::string &token)
{
    std::string why = "an odd number of hex digits";
    for (const char c : token)
        if (hex::digit(c) < 0) {
            why = quoted(std::string(1, c)) + " is not a hex digit";
            break;
        }
    fail("WPISIM_REPLIES: reply " + std::to_string(number) + " " + quoted(token), why);
}

std::vector<std::vector<unsigned char>> parse(const char *text)
{
    std::vector<std::vector<unsigned char>> replies;
    std::string token;
    for (const char *p = text;; ++p) {
        const bool separator =
            *p == '\0' || *p == ',' || std::isspace(static_cast<unsigned char>(*p)) != 0;
        if (!separator) {
            token += *p;
            continue;
        }
        if (!token.empty()) {
            auto reply = hex::decode(token);
            if (!reply)
                bad_reply(replies.size() + 1, token);
            replies.push_back(*reply);
            token.clear();
        }
        if (*p == '\0')
            break;
    }
    if (replies.empty() && *text != '\0')
        fail("WPISIM_REPLIES=" + quoted(text),
             "no reply in it (give hex such as 7730, or unset it)");
    return replies;
}

class ScriptPeer : public Peer
{
  public:
    explicit ScriptPeer(const char *text) : replies_(parse(text)) {}

    Outcome exchange(const Transfer &t) override
    {
        Outcome o;
        o.answered = t.channel != no_chip_select;
        if (!o.answered)
            return o;
        // An empty script is a board that holds MISO low.
        std::vector<unsigned char> reply;
        if (!replies_.empty())
            reply = replies_[next_ < replies_.size() ? next_++ : replies_.size() - 1];
        for (int i = 0; i < t.len; ++i)
            t.data[i] = static_cast<std::size_t>(i) < reply.size() ? reply[i] : 0;
        return o;
    }
    const char *name() const override { return "script"; }

  private:
    std::vector<std::vector<unsigned char>> replies_;
    std::size_t next_ = 0;
};

} // namespace

std::unique_ptr<Peer> make_script_peer(const char *replies)
{
    return std::make_unique<ScriptPeer>(replies);
}

} // namespace wpisim
