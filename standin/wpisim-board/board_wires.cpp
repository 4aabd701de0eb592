// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "board_wires.hpp"

#include "event_log.hpp"
#include "pin_bank.hpp"

#include <algorithm>
#include <cstring>

namespace wpisim
{

namespace
{

gpio::Bank &pi_bank()
{
    // The runs make the bank before they wire anything: its power-on pulls
    // are theirs to give.
    static const std::uint8_t none[gpio::gpio_count] = {};
    return gpio::bank("wpisim-board", none);
}

bool drives(int side)
{
    return side == link::side_low || side == link::side_high;
}

// The Pi's side of a pin, from the bank, as a run reports it.
int pi_side_in_bank(int gpio)
{
    const gpio::Pin &p = pi_bank().pins[gpio];
    if (p.function == gpio::fn_output)
        return p.latch != 0 ? link::side_high : link::side_low;
    if (p.pull == gpio::pull_up)
        return link::side_pull_up;
    if (p.pull == gpio::pull_down)
        return link::side_pull_down;
    return link::side_none;
}

// The board's side as the Pi's pin sees it from outside: an AVR pull-up
// (20 to 50 kOhm) outweighs none, and reads high against the Pi's own pull.
int drive_of(int side)
{
    if (side == link::side_high || side == link::side_pull_up)
        return gpio::drive_high;
    if (side == link::side_low)
        return gpio::drive_low;
    return gpio::drive_none;
}

constexpr int pi_millivolts = 3300;

} // namespace

std::string BoardWires::set(const std::vector<link::WireEnds> &wires, AvrBoard &board,
                            const BoardKind &kind)
{
    const bool same =
        wires.size() == wires_.size() &&
        std::memcmp(wires.data(), wires_.data(), wires.size() * sizeof(link::WireEnds)) == 0;
    if (same && kind_ == &kind)
        return "";
    for (std::size_t i = 0; i < wires.size(); ++i) {
        if (wires[i].gpio < 0 || wires[i].gpio >= gpio::gpio_count)
            return "no Pi has GPIO " + std::to_string(wires[i].gpio);
        for (std::size_t j = 0; j < i; ++j)
            if (wires[j].gpio == wires[i].gpio)
                return "GPIO " + std::to_string(wires[i].gpio) + " is wired twice";
    }
    const std::vector<link::WireEnds> was = wires_;
    wires_ = wires;
    std::string why = rewire(board, kind);
    if (!why.empty()) {
        wires_ = was;
        rewire(board, kind);
        return why;
    }
    // Pins no longer wired keep no drive from the board.
    for (const link::WireEnds &w : was)
        if (std::none_of(wires_.begin(), wires_.end(),
                         [&](const link::WireEnds &x) { return x.gpio == w.gpio; }))
            gpio::settle(pi_bank(), w.gpio, board.bench_ns(), -1, -1, gpio::drive_none);
    return "";
}

std::string BoardWires::rewire(AvrBoard &board, const BoardKind &kind)
{
    kind_ = &kind;
    pi_.assign(wires_.size(), link::side_none);
    board_.assign(wires_.size(), link::side_none);
    std::string why =
        board.set_wires(wires_, [this](int wire, bool on_board, int side, std::int64_t at) {
            changed(wire, on_board, side, at);
        });
    if (!why.empty())
        return why;
    const std::int64_t now = board.bench_ns();
    for (std::size_t i = 0; i < wires_.size(); ++i) {
        const int wire = static_cast<int>(i);
        board.pi_side(wire, pi_side_in_bank(wires_[i].gpio), now);
        changed(wire, true, board.board_side(wire), now);
    }
    return "";
}

bool BoardWires::pi_pin(const link::PiPin &pin, AvrBoard &board)
{
    for (std::size_t i = 0; i < wires_.size(); ++i) {
        if (wires_[i].gpio != pin.gpio)
            continue;
        board.pi_side(static_cast<int>(i), pin.side, pin.at_ns);
        return true;
    }
    return false;
}

void BoardWires::changed(int wire, bool on_board, int side, std::int64_t at_ns)
{
    const auto i = static_cast<std::size_t>(wire);
    if (!on_board) {
        pi_[i] = side;
        check(wire, at_ns);
        return;
    }
    board_[i] = side;
    gpio::settle(pi_bank(), wires_[i].gpio, at_ns, -1, -1, drive_of(side));
    Record("wire")
        .num("gpio", wires_[i].gpio)
        .text("pin", pin_name(wire))
        .num("side", side)
        .num("at_ns", at_ns)
        .emit();
    check(wire, at_ns);
}

void BoardWires::check(int wire, std::int64_t at_ns)
{
    const auto i = static_cast<std::size_t>(wire);
    const int gpio = wires_[i].gpio;
    if (drives(pi_[i]) && drives(board_[i]) && pi_[i] != board_[i]) {
        Record("wire-short")
            .num("gpio", gpio)
            .text("pin", pin_name(wire))
            .num("at_ns", at_ns)
            .emit();
        warn_("wpisim: short on GPIO " + std::to_string(gpio) + ": the Pi drives it " +
              (pi_[i] == link::side_high ? "high" : "low") + " and " + pin_name(wire) +
              " drives it " + (board_[i] == link::side_high ? "high" : "low"));
    }
    if (board_[i] == link::side_high && wires_[i].divider == 0 && kind_ != nullptr &&
        kind_->millivolts > pi_millivolts) {
        Record("wire-overvoltage")
            .num("gpio", gpio)
            .text("pin", pin_name(wire))
            .num("at_ns", at_ns)
            .emit();
        warn_("wpisim: " + pin_name(wire) + " drives GPIO " + std::to_string(gpio) + " high at " +
              std::to_string(kind_->millivolts / 1000) +
              " V, and no Pi pin tolerates more than 3.3 V: "
              "put a divider on the wire (see docs/raspberry-pi.md) and say divider = true");
    }
}

std::string BoardWires::pin_name(int wire) const
{
    const link::WireEnds &w = wires_[static_cast<std::size_t>(wire)];
    const std::string board(w.board, strnlen(w.board, sizeof w.board));
    return board + " " + board_pin_name(*kind_, BoardPin{w.port, w.bit});
}

} // namespace wpisim
