// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// What the run's trace is told of the GPIOs WPISIM_TRACE_PINS names.

#include <cstdint>

namespace wpisim::gpio
{

struct Bank;

// At GPIO set-up: the trace opened, if asked for, with each traced pin as it
// is now; the rest of each wave is drawn when the program ends.
void trace_setup(Bank &b, std::int64_t epoch_ns);
// After a change to the pins: each traced pin's level or wave from now on,
// and the edges outside drives made since the last look, at their times.
void trace_pins();

} // namespace wpisim::gpio
