// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "this_pi.hpp"

#include "pi_model.hpp"
#include "pi_pins.hpp"
#include "pi_pwm.hpp"
#include "pi_session.hpp"
#include "pin_bank.hpp"

#include <cstdarg>

namespace wpisim::gpio::this_pi
{

std::string word()
{
    return std::string(pi::model().word);
}

bool rp1()
{
    return pi::model().rp1;
}

bool legacy_pull()
{
    return !rp1() && pi::model().word != "pi4";
}

int wpi_to_gpio(int pin)
{
    return pi::wpi_to_bcm(pi::model().layout, pin);
}

int phys_to_gpio(int pin)
{
    return pi::phys_to_bcm(pi::model().layout, pin);
}

int reset_pull(int gpio)
{
    const pi::Model &m = pi::model();
    if (pi::board_pull_up(m, gpio))
        return pull_up;
    switch (pi::power_on_pull(m, gpio)) {
    case pi::Pull::up:
        return pull_up;
    case pi::Pull::down:
        return pull_down;
    default:
        return gpio <= 8 ? pull_up : pull_down;
    }
}

int pwm_channel(int gpio)
{
    const auto p = pi::pwm_pin(pi::model(), gpio);
    return p ? p->channel : -1;
}

int pwm_function(int gpio)
{
    const auto p = pi::pwm_pin(pi::model(), gpio);
    return p ? p->alt : -1;
}

int pwm_divisor(int divisor, int current)
{
    return pi::pwm_clock_divider(pi::model(), divisor, current);
}

double pwm_clock_hz(unsigned held)
{
    return held == 0 ? 0 : pi::pwm_source_hz(pi::model()) / held;
}

int library_failure(int fatal, const char *message, ...)
{
    va_list args;
    va_start(args, message);
    const int result = pi::failure(fatal, message, args);
    va_end(args);
    return result;
}

} // namespace wpisim::gpio::this_pi
