// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors

// One wiring fault between the Pi and the Uno, as the electrics play out.
// A line nobody drives reads low at the Pi: its GPIO9 (MISO) has a pull-down
// by default. The Uno's D11 (MOSI) has no pull-up in the firmware; floating,
// it is taken as low, which is also what it reads when it ends up on the
// Pi's pulled-down GPIO9. The firmware pulls D10 (SS) up, so with CE0
// missing the AVR's SPI stays passive: it ignores SCLK and MOSI, and its
// MISO holds the first bit of the byte it would send, 0 for every reply
// the firmware has ('w', 'f', 'i').

#include "wiring_faults.hpp"

#include "event_log.hpp"
#include "settings.hpp"

#include <cstring>

namespace wpisim
{

namespace
{

enum class Fault { no_miso, no_mosi, no_ce0, swapped, unpowered, no_firmware };

class WiredPeer : public Peer
{
  public:
    WiredPeer(std::unique_ptr<Peer> board, Fault fault, const char *name)
        : board_(std::move(board)), fault_(fault), fault_name_(name)
    {
    }

    void exchange(unsigned char *data, int len, std::int64_t start_ns, std::int64_t bit_ns) override
    {
        began_ = -1;
        switch (fault_) {
        case Fault::no_miso:
            // The board hears and acts; its answer never reaches the Pi.
            board_->exchange(data, len, start_ns, bit_ns);
            began_ = board_->began_ns();
            std::memset(data, 0, static_cast<std::size_t>(len));
            break;
        case Fault::no_mosi:
            // The board answers, but what it receives is the low of a floating D11.
            std::memset(data, 0, static_cast<std::size_t>(len));
            board_->exchange(data, len, start_ns, bit_ns);
            began_ = board_->began_ns();
            break;
        case Fault::swapped:
            // Pi MOSI meets Uno MISO (two outputs: the divider limits the
            // current); Pi MISO meets Uno MOSI (two inputs: only the pull-down).
            std::memset(data, 0, static_cast<std::size_t>(len));
            board_->exchange(data, len, start_ns, bit_ns);
            began_ = board_->began_ns();
            std::memset(data, 0, static_cast<std::size_t>(len));
            break;
        case Fault::no_ce0:
        case Fault::unpowered:
        case Fault::no_firmware:
            // Nothing on the board takes part: SS stays high, or there is no
            // reference or no supply, or the SPI was never enabled (MISO an input).
            std::memset(data, 0, static_cast<std::size_t>(len));
            break;
        }
        // The board may not have taken part; its outputs are logged all the same.
        int d5 = 0;
        int d6 = 0;
        Record rec("wiring");
        rec.text("fault", fault_name_);
        if (outputs(d5, d6))
            rec.num("d5", d5).num("d6", d6);
        rec.emit();
    }

    const char *name() const override { return board_->name(); }
    bool answers_on(int channel) const override { return board_->answers_on(channel); }
    std::int64_t began_ns() const override { return began_; }
    bool outputs(int &d5, int &d6) const override
    {
        if (fault_ == Fault::unpowered || fault_ == Fault::no_firmware) {
            d5 = d6 = 0;
            return true;
        }
        return board_->outputs(d5, d6);
    }

  private:
    std::unique_ptr<Peer> board_;
    Fault fault_;
    const char *fault_name_;
    std::int64_t began_ = -1;
};

struct Name {
    const char *name;
    Fault fault;
};

const Name names[] = {
    {"no-miso", Fault::no_miso},     {"no-mosi", Fault::no_mosi},
    {"no-ce0", Fault::no_ce0},       {"swapped", Fault::swapped},
    {"no-ground", Fault::unpowered}, {"no-firmware", Fault::no_firmware},
};

} // namespace

std::unique_ptr<Peer> wired(std::unique_ptr<Peer> peer)
{
    const auto wanted = setting_text("WPISIM_WIRING");
    if (wanted)
        for (const Name &n : names)
            if (*wanted == n.name)
                return std::make_unique<WiredPeer>(std::move(peer), n.fault, n.name);
    // Unset or ok: the table has refused every other word.
    return peer;
}

} // namespace wpisim
