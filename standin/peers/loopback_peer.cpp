// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "peer.hpp"

namespace wpisim
{

namespace
{

// MISO wired to MOSI: every byte comes back as it was sent.
class LoopbackPeer : public Peer
{
  public:
    Outcome exchange(const Transfer &t) override
    {
        Outcome o;
        o.answered = t.channel != no_chip_select;
        return o;
    }
    const char *name() const override { return "loopback"; }
};

} // namespace

std::unique_ptr<Peer> make_loopback_peer()
{
    return std::make_unique<LoopbackPeer>();
}

} // namespace wpisim
