// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The Pi's GPIO wired to a board: what the program puts on a wired pin goes
// to the board, stamped with its time; a read of a wired pin, or an interrupt
// watched on one, first runs the board to the program's time, so the board's
// side is in the bank as it is then. The board process is reached through
// whoever holds the run's session with it (given at set-up).

#include <cstdint>

namespace wpisim::gpio
{

struct BoardLine {
    void (*pi_side)(int gpio, int side, std::int64_t at_ns);
    // Runs the board to until_ns, or with stop_at_change to its first change
    // on a wire the Pi reads: that change's time, else -1.
    std::int64_t (*sync)(std::int64_t until_ns, bool stop_at_change);
};

// The GPIOs wired to the board, and how to reach it.
void wire_to_board(const int *gpios, int count, BoardLine line);
bool wired(int gpio);
bool any_wired();
// What the program put on a wired GPIO: its function, latch and pull.
void tell_board(int gpio);
// Before a read of a wired GPIO: the board as it is now.
void board_to_now();
// For the clock's events, while the program watches a wired GPIO's edges:
// runs the board towards limit on the bench clock, in steps of at least
// quantum_ns (so a program's own calls do not each wait for the board) and
// at most 100 ms. The time of the board's first change the Pi reads
// (changed), or where the board stopped short of limit, or -1.
std::int64_t board_next_change(std::int64_t limit, bool *changed);
// How late an interrupt function may see a board's edge in virtual time: far
// less than a Pi's own latency, tens of microseconds from edge to function.
constexpr std::int64_t quantum_ns = 10000;

} // namespace wpisim::gpio
