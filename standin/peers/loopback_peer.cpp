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
    void exchange(unsigned char * /*data*/, int /*len*/, std::int64_t /*start_ns*/,
                  std::int64_t /*bit_ns*/) override
    {
    }
    const char *name() const override { return "loopback"; }
};

} // namespace

std::unique_ptr<Peer> make_loopback_peer()
{
    return std::make_unique<LoopbackPeer>();
}

} // namespace wpisim
