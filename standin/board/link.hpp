// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>

namespace wpisim
{

// What the simulated board showed after an exchange, as the board module
// reports it and the board process sends it to the stand-in.
struct BoardReport {
    std::int64_t cycle = 0;
    std::int64_t cpu_ns = 0; // host CPU time the exchange cost
    std::int32_t d5 = 0;     // 0..255: PWM duty or plain level
    std::int32_t d6 = 0;
    std::int32_t miso_driven = 0; // while SS was high before the exchange
    std::int32_t wcol = 0;        // SPDR writes that collided
    std::int32_t state = 0;       // one of the values below
    std::uint32_t pc = 0;         // where a stopped firmware stopped
};

enum : std::int32_t { board_running = 0, board_stopped = 1, board_crashed = 2 };

} // namespace wpisim
