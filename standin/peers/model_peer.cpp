// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The small board model used when the simulated board is not built. Like a
// slave that prepares its answer after each exchange, it replies one exchange
// late: "--" first, then the bytes it received in the exchange before, and
// from the third exchange on 'i' ("idle") in first place, so a conversation
// ends by itself after three cycles.

#include "peer.hpp"

#include <vector>

namespace wpisim
{

namespace
{

class ModelPeer : public Peer
{
  public:
    Outcome exchange(const Transfer &t) override
    {
        Outcome o;
        o.answered = t.channel != no_chip_select;
        if (!o.answered)
            return o;
        unsigned char *data = t.data;
        const int len = t.len;
        const std::vector<unsigned char> received(data, data + len);
        for (int i = 0; i < len; ++i) {
            if (count_ == 0)
                data[i] = '-';
            else
                data[i] = static_cast<std::size_t>(i) < previous_.size() ? previous_[i] : 0;
        }
        if (count_ >= 2 && len > 0)
            data[0] = 'i';
        previous_ = received;
        ++count_;
        return o;
    }
    const char *name() const override { return "model"; }

  private:
    std::vector<unsigned char> previous_;
    long count_ = 0;
};

} // namespace

std::unique_ptr<Peer> make_model_peer()
{
    return std::make_unique<ModelPeer>();
}

} // namespace wpisim
