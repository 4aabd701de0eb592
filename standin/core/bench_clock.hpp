// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The bench's time. WPISIM_TIME=wall (the default) is the monotonic clock,
// and waits really sleep. WPISIM_TIME=virtual is a simulated clock that only
// delay() and the bus move: nothing sleeps, and the same run gives the same
// times on any machine at any load. It is kept in the state directory's
// "clock" file, so runs on one state directory follow one another on one
// clock; a run holds it for its life, and a second run at once is refused.

#include <cstdint>

namespace wpisim
{

bool virtual_time();

// Now, on the bench's clock.
std::int64_t bench_now_ns();

// Until t on the bench's clock: a sleep in wall time, a step in virtual time.
void bench_wait_until(std::int64_t t);

} // namespace wpisim
