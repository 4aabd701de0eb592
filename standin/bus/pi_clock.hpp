// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>

namespace wpisim
{

// The clock one transfer really runs at on the wire.
struct WireClock {
    double sclk_hz;
    std::int64_t bit_ns;
    int core_mhz; // the Pi's core clock for this transfer; 0 when no Pi is modelled
};

// Without WPISIM_PI or WPISIM_SCLK the wire runs at the requested speed.
//   WPISIM_PI=MODEL                            the divider and core clock of that Pi
//                                              (pi_model.hpp lists the models)
//   WPISIM_CORE=PATTERN|seed:N                 which transfers see the loaded (l)
//                                              or idle (i) core clock
//   WPISIM_SCLK=HZ                             an ideal master at exactly HZ
// A value not understood ends the process with a message, status 2.
WireClock wire_clock(int requested_hz, long transfer_number);

} // namespace wpisim
