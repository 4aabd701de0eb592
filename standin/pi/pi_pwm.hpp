// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// A Pi's hardware PWM as wiringPi 3.14 drives it: which GPIO gives which
// channel, and the frequency its pwmSetClock, pwmSetRange and pwmSetMode make.

#include "pi_model.hpp"

#include <optional>

namespace wpisim::pi
{

struct PwmPin {
    int channel; // 0-1 on a BCM283x/2711, 0-3 in the Pi 5's RP1
    int alt;     // the function 3.14 selects, as getAlt reports it (4 ALT0, 2 ALT5, 7 ALT3)
};

// The channel pinMode(PWM_OUTPUT) gives a BCM GPIO, or nullopt for a GPIO
// 3.14 leaves alone: 12/13 (ALT0), 18/19 (ALT5; ALT3 on a Pi 5), and off the
// header 40/41/45 (ALT0) on the BCM chips. GPIO 40, 41 and 45 on a Pi 5 get
// their function but no channel.
std::optional<PwmPin> pwm_pin(const Model &m, int bcm);

// What pwmWrite on a BCM GPIO writes: a channel's duty (0-3),
// pwm_control_register or, on a Pi 5, pwm_no_channel (refused with a
// message). 3.14 looks the GPIO up without checking that it is a PWM pin, so
// on the BCM chips any other GPIO writes the value into the PWM control
// register, and on a Pi 5 into channel 0's duty; a Pi 5's GPIO 40, 41 and 45
// have no channel.
constexpr int pwm_control_register = -1;
constexpr int pwm_no_channel = -2;
int pwm_write_target(const Model &m, int bcm);

// The PWM clock's divider after pwmSetClock(divisor), given the one it had:
// 3.14 caps the divisor at 4095, then scales it to the Pi 4's 54 MHz and
// the Pi 5's 50 MHz sources, as if each were 19.2 MHz. On a Pi 4 a divisor
// above 1456 scales past the register's 12 bits: the overflow spoils the
// clock manager's password (the write is ignored, the divider stays) or,
// from 2913, lands on the password's own bit and leaves the low 12 bits. A
// result of 0 is a stopped clock (a Pi 5 asked for less than 1).
int pwm_clock_divider(const Model &m, int divisor, int current);

// The PWM clock's source: 19.2 MHz, 54 MHz on a Pi 4, 50 MHz on a Pi 5.
double pwm_source_hz(const Model &m);

// The output's frequency at that divider and pwmSetRange range, with a duty
// of value, in pwmSetMode's mode (0 mark:space, 1 balanced). Mark:space
// repeats every range ticks; balanced spreads value high ticks evenly over
// range, so its pulses come at the rate of the rarer level. A Pi 5 runs
// mark:space whatever the mode. 0 when nothing toggles.
double pwm_frequency_hz(const Model &m, int divider, unsigned range, int mode, int value);

} // namespace wpisim::pi
