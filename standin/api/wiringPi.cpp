// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The library's calls, as a program links them: each hands over to the part
// of the stand-in that plays that piece of the Pi.

#include "bench_clock.hpp"
#include "call_faults.hpp"
#include "event_log.hpp"
#include "gpio_bank.hpp"

#include <wiringPi.h>

extern "C" int wiringPiSetup(void)
{
    return wpisim::gpio::setup(wpisim::gpio_setup_fault());
}

extern "C" void pinMode(int pin, int mode)
{
    wpisim::gpio::set_mode(pin, mode);
}

extern "C" void digitalWrite(int pin, int value)
{
    wpisim::gpio::write(pin, value);
}

extern "C" void delay(unsigned int howLong)
{
    const std::int64_t start = wpisim::bench_now_ns();
    // Absolute deadline: an interrupted sleep never ends early.
    wpisim::bench_wait_until(start + static_cast<std::int64_t>(howLong) * 1000000);
    wpisim::Record("delay")
        .num("ms", howLong)
        .num("start_ns", start)
        .num("end_ns", wpisim::bench_now_ns())
        .emit();
}
