// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The bench's time. WPISIM_TIME=wall (the default) is the monotonic clock,
// and waits really sleep. WPISIM_TIME=virtual is a simulated clock that only
// the program's calls move, each by what it costs on a Pi: nothing sleeps, and
// the same run gives the same times on any machine at any load. It is kept in
// the state directory's "clock" file, so runs on one state directory follow
// one another on one clock; a run holds it for its life, and a second run at
// once is refused.

#include <cstdint>

namespace wpisim
{

bool virtual_time();

// Now, on the bench's clock.
std::int64_t bench_now_ns();

// Now on the bench's clock as another process sees it, without holding the
// clock: what a virtual-time run has reached (0 if none ran), else the
// monotonic clock. For stamping what happens from outside a run.
std::int64_t bench_clock_reading();

// Until t on the bench's clock: a sleep in wall time, a step in virtual time.
// In virtual time a step stops at each event due on the way (an input's edge
// a test scheduled) and lets it happen at its own time.
void bench_wait_until(std::int64_t t);

// What a call costs a Pi, in virtual time; nothing in wall time, where the
// host's own cost stands in for it.
void bench_spend(std::int64_t ns);

// What happens on the bench at a time of its own, for virtual time: the
// earliest such time not after limit (or -1), and the happening, called with
// the clock at that time; waiting: the step is a wait (delay, a timeout), not
// a call's own cost.
struct ClockEvents {
    std::int64_t (*next_due)(std::int64_t limit);
    void (*happen)(std::int64_t at, bool waiting);
};
void on_clock_events(ClockEvents events);

} // namespace wpisim
