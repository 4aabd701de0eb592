// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// A run that `wpisim run` checks on the virtual clock: the clock stops at the
// times wpisim asks for and waits there while it looks at the bench (the
// program's output, the pins, a board's serial port), so what it sees and
// does happens at exactly that time on every run.
//
// The link is a stream socket whose number wpisim puts in WPISIM_RUN_FD.
// wpisim sends a HoldOrder first and one after each HoldReached; the stand-in
// sends a HoldReached when its clock gets to the order's time.
#include <cstdint>

namespace wpisim
{

struct HoldOrder {
    std::int64_t at_ns;  // the next hold, on the bench clock; -1: none
    std::int32_t boards; // nonzero: run the boards to the hold before telling
    std::int32_t pad;
};

struct HoldReached {
    std::int64_t at_ns;
};

// The next hold, -1 when there is none or the run is not checked.
std::int64_t run_next_hold();

// The clock is at at_ns, the hold: tells wpisim and waits for its next order.
// Another thread that got there first has done it; then this returns at once.
void run_reach_hold(std::int64_t at_ns);

// Runs the boards to now, for a hold that asks it; set by whoever drives them.
void on_run_hold_boards(void (*to_now)());

} // namespace wpisim
