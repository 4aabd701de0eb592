// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// What the GPIO needs to know of the Pi WPISIM_PI names, in the bank's terms.

#include <string>

namespace wpisim::gpio::this_pi
{

std::string word();
// A Pi 5 (GPIO, pulls and PWM in the RP1), as the library knows it: only once
// it has read the board.
bool rp1();
// How many GPIO lines the chip has: 54, or 58 on a Pi 4.
int gpio_lines();
bool legacy_pull(); // the BCM283x's clocked pull sequence, not the 2711's registers

int wpi_to_gpio(int pin);
int phys_to_gpio(int pin);
// The bank's pull after power-on.
int reset_pull(int gpio);
// The PWM channel a GPIO can drive and the function that connects it; -1 if none.
int pwm_channel(int gpio);
int pwm_function(int gpio);
// What pwmWrite on a GPIO writes: a channel's duty (0 up), the control
// register, or nothing, refused.
constexpr int pwm_control_register = -1;
constexpr int no_pwm_channel = -2;
int pwm_write_target(int gpio);
// What the PWM clock's divider holds after pwmSetClock(divisor), and the
// clock after a divider holding that (0: stopped).
int pwm_divisor(int divisor, int current);
double pwm_clock_hz(unsigned held);

} // namespace wpisim::gpio::this_pi
