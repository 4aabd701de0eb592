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
#include <optional>

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

    Outcome exchange(const Transfer &t) override
    {
        Outcome o;
        switch (fault_) {
        case Fault::no_miso:
            // The board hears and acts; its answer never reaches the Pi.
            o = board_->exchange(t);
            o.answered = false;
            break;
        case Fault::no_mosi:
            // The board answers, but what it receives is the low of a floating D11.
            std::memset(t.data, 0, static_cast<std::size_t>(t.len));
            o = board_->exchange(t);
            break;
        case Fault::swapped:
            // Pi MOSI meets Uno MISO (two outputs: the divider limits the
            // current); Pi MISO meets Uno MOSI (two inputs: only the pull-down).
            std::memset(t.data, 0, static_cast<std::size_t>(t.len));
            o = board_->exchange(t);
            o.answered = false;
            break;
        case Fault::no_ce0: {
            // SS stays high: the board's SPI takes no part.
            Transfer unselected = t;
            if (t.channel == 0)
                unselected.channel = no_chip_select;
            o = board_->exchange(unselected);
            break;
        }
        case Fault::unpowered:
        case Fault::no_firmware:
            // No reference or no supply, or the SPI was never enabled (MISO an
            // input): nothing on the board takes part, and its outputs are dark.
            o.answered = false;
            o.has_outputs = true;
            break;
        }
        // The board may not have taken part; its outputs are logged all the same.
        Record rec("wiring");
        rec.text("fault", fault_name_);
        if (o.has_outputs)
            rec.num("d5", o.d5).num("d6", o.d6);
        rec.emit();
        return o;
    }

    const char *name() const override { return board_->name(); }

  private:
    std::unique_ptr<Peer> board_;
    Fault fault_;
    const char *fault_name_;
};

} // namespace

// WPISIM_WIRING's words are these.
struct Wiring {
    const char *word;
    std::optional<Fault> fault; // none: wired as it should be
};

namespace
{

constexpr Wiring wirings[] = {
    {"ok", std::nullopt},
    {"no-miso", Fault::no_miso},
    {"no-mosi", Fault::no_mosi},
    {"no-ce0", Fault::no_ce0},
    {"swapped", Fault::swapped},
    {"no-ground", Fault::unpowered},
    {"no-firmware", Fault::no_firmware},
};
const ChoiceWords wiring_words("WPISIM_WIRING", wirings, &Wiring::word);

} // namespace

const Wiring *find_wiring(std::string_view word)
{
    return find_row(word, wirings, &Wiring::word);
}

std::unique_ptr<Peer> wired(std::unique_ptr<Peer> peer)
{
    const Wiring *w = setting_row("WPISIM_WIRING", wirings, &Wiring::word);
    if (w == nullptr || !w->fault)
        return peer;
    return std::make_unique<WiredPeer>(std::move(peer), *w->fault, w->word);
}

} // namespace wpisim
