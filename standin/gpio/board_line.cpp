// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "board_line.hpp"

#include "bench_clock.hpp"
#include "link.hpp"
#include "pin_bank.hpp"
#include "pins.hpp"

#include <algorithm>
#include <atomic>

namespace wpisim::gpio
{

namespace
{

bool wired_gpio[gpio_count];
std::atomic<bool> any{false};
BoardLine board{};
// Where the board has been run to, on the bench clock.
std::atomic<std::int64_t> synced{-1};
// A wait with no end runs the board this far at a time, the clock with it.
constexpr std::int64_t longest_step_ns = 100000000;

} // namespace

void wire_to_board(const int *gpios, int count, BoardLine line)
{
    board = line;
    for (int i = 0; i < count; ++i)
        if (gpios[i] >= 0 && gpios[i] < gpio_count)
            wired_gpio[gpios[i]] = true;
    synced = bench_now_ns();
    any = count > 0;
    for (int i = 0; i < count; ++i)
        tell_board(gpios[i]);
}

bool any_wired()
{
    return any.load(std::memory_order_relaxed);
}

bool wired(int gpio)
{
    return any_wired() && gpio >= 0 && gpio < gpio_count && wired_gpio[gpio];
}

void tell_board(int gpio)
{
    if (!wired(gpio))
        return;
    const Pin &p = pins_bank("wiringPi").pins[gpio];
    int side = link::side_none;
    if (p.function == fn_output)
        side = p.latch != 0 ? link::side_high : link::side_low;
    else if (p.function == fn_input && p.pull == pull_up)
        side = link::side_pull_up;
    else if (p.function == fn_input && p.pull == pull_down)
        side = link::side_pull_down;
    board.pi_side(gpio, side, bench_now_ns());
}

void board_to_now()
{
    const std::int64_t now = bench_now_ns();
    board.sync(now, false);
    std::int64_t was = synced.load();
    while (was < now && !synced.compare_exchange_weak(was, now)) {
    }
}

std::int64_t board_next_change(std::int64_t limit, bool *changed)
{
    *changed = false;
    const std::int64_t from = synced.load();
    // The clock may not pass the board: a long wait stops where the board got.
    const std::int64_t step = std::min(limit, from + longest_step_ns);
    if (step - from < quantum_ns)
        return -1;
    const std::int64_t change = board.sync(step, true);
    synced = change >= 0 ? change : step;
    *changed = change >= 0;
    if (change >= 0)
        return change;
    return step < limit ? step : -1;
}

} // namespace wpisim::gpio
