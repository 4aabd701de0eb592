// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "this_pi.hpp"

#include "pi_model.hpp"
#include "pi_pins.hpp"
#include "pi_pwm.hpp"
#include "pi_session.hpp"
#include "pin_bank.hpp"

namespace wpisim::gpio::this_pi
{

std::string word()
{
    return std::string(pi::model().word);
}

bool rp1()
{
    return pi::board_detected() && pi::model().rp1;
}

int gpio_lines()
{
    return pi::model().word == "pi4" ? 58 : 54;
}

bool legacy_pull()
{
    return !pi::model().rp1 && pi::model().word != "pi4";
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

int pwm_write_target(int gpio)
{
    const int target = pi::pwm_write_target(pi::model(), gpio);
    if (target == pi::pwm_control_register)
        return pwm_control_register;
    if (target == pi::pwm_no_channel)
        return no_pwm_channel;
    return target;
}

int pwm_divisor(int divisor, int current)
{
    return pi::pwm_clock_divider(pi::model(), divisor, current);
}

double pwm_clock_hz(unsigned held)
{
    return held == 0 ? 0 : pi::pwm_source_hz(pi::model()) / held;
}

} // namespace wpisim::gpio::this_pi
