// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The wires between the Pi's GPIO and the board's pins, as the board process
// keeps them: the board's side goes to the Pi's pin bank as an outside drive
// at its own time, the Pi's side to the AVR's pins at its time. Two outputs
// at odds on a wire are a short; a 5 V board driving a Pi pin high without a
// divider is an over-voltage. Both are logged each time and warned to each
// run once.

#include "avr_board.hpp"
#include "board_kind.hpp"
#include "link.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wpisim
{

class BoardWires
{
  public:
    // warn: a line for every run's stderr.
    explicit BoardWires(std::function<void(const std::string &)> warn) : warn_(std::move(warn)) {}

    // The wires a run's bench has; the same ones again change nothing. Empty,
    // or why they cannot be.
    std::string set(const std::vector<link::WireEnds> &wires, AvrBoard &board,
                    const BoardKind &kind);
    // The wires on the board again, as on a fresh one: empty, or why not.
    std::string rewire(AvrBoard &board, const BoardKind &kind);
    // What the Pi now puts on one; false if the GPIO is not wired.
    bool pi_pin(const link::PiPin &pin, AvrBoard &board);
    bool any() const { return !wires_.empty(); }

  private:
    void changed(int wire, bool on_board, int side, std::int64_t at_ns);
    void check(int wire, std::int64_t at_ns);
    std::string pin_name(int wire) const;

    std::function<void(const std::string &)> warn_;
    std::vector<link::WireEnds> wires_;
    std::vector<int> pi_;    // each wire's Pi side, as last told
    std::vector<int> board_; // and the board's
    const BoardKind *kind_ = nullptr;
};

} // namespace wpisim
