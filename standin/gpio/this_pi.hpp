// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// What the GPIO needs to know of the Pi WPISIM_PI names, in the bank's terms.

#include <string>

namespace wpisim::gpio::this_pi
{

std::string word();
bool rp1();         // a Pi 5: GPIO, pulls and PWM in the RP1
bool legacy_pull(); // the BCM283x's clocked pull sequence, not the 2711's registers

int wpi_to_gpio(int pin);
int phys_to_gpio(int pin);
// The bank's pull after power-on.
int reset_pull(int gpio);
// The PWM channel a GPIO can drive and the function that connects it; -1 if none.
int pwm_channel(int gpio);
int pwm_function(int gpio);
// What the PWM clock's divider holds after pwmSetClock(divisor), and the
// clock after a divider holding that (0: stopped).
int pwm_divisor(int divisor, int current);
double pwm_clock_hz(unsigned held);

// What wiringPiFailure does, for the library's own calls here.
// NOLINTNEXTLINE(cert-dcl50-cpp): formats as the library's messages do
int library_failure(int fatal, const char *message, ...);

} // namespace wpisim::gpio::this_pi
