// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pi_model.hpp"

#include "pin_bank.hpp"
#include "settings.hpp"

#include <wiringPi.h>

#include <string>

namespace wpisim::gpio::pi
{

namespace
{

const int wpi_r1[17] = {17, 18, 21, 22, 23, 24, 25, 4, 0, 1, 8, 7, 10, 9, 11, 14, 15};
const int wpi_r2[32] = {17, 18, 27, 22, 23, 24, 25, 4,  2,  3,  8,  7,  10, 9,  11, 14,
                        15, 28, 29, 30, 31, 5,  6,  13, 19, 26, 12, 16, 20, 21, 0,  1};
const int phys_r1[27] = {-1, -1, -1, 0,  -1, 1,  -1, 4, 14, -1, 15, 17, 18, 21,
                         -1, 22, 23, -1, 24, 10, -1, 9, 25, 11, 8,  -1, 7};
const int phys_r2[64] = {-1, -1, -1, 2,  -1, 3,  -1, 4,  14, -1, 15, 17, 18, 27, -1, 22,
                         23, -1, 24, 10, -1, 9,  25, 11, 8,  -1, 7,  0,  1,  5,  -1, 6,
                         12, 13, -1, 19, 16, 26, 20, -1, 21, -1, -1, -1, -1, -1, -1, -1,
                         -1, -1, -1, 28, 29, 30, 31, -1, -1, -1, -1, -1, -1, -1, -1, -1};

const Model models[] = {
    {"pi1-rev1", false, true}, {"pi1", false, true},    {"pi2", false, true},  {"pi3", false, true},
    {"zero", false, true},     {"zero2w", false, true}, {"pi4", false, false}, {"pi5", true, false},
};

bool rev1()
{
    return std::string(model().word) == "pi1-rev1";
}

} // namespace

const Model &model()
{
    static const Model &chosen = []() -> const Model & {
        const std::string word = setting_text("WPISIM_PI").value_or("pi4");
        for (const Model &m : models)
            if (word == m.word)
                return m;
        return models[6];
    }();
    return chosen;
}

int wpi_to_gpio(int pin)
{
    if (rev1())
        return pin >= 0 && pin < 17 ? wpi_r1[pin] : -1;
    return pin >= 0 && pin < 32 ? wpi_r2[pin] : -1;
}

int phys_to_gpio(int pin)
{
    if (rev1())
        return pin >= 0 && pin < 27 ? phys_r1[pin] : -1;
    return pin >= 0 && pin < 64 ? phys_r2[pin] : -1;
}

int reset_pull(int gpio)
{
    return gpio <= 8 ? PUD_UP : PUD_DOWN;
}

int pwm_channel(int gpio)
{
    if (model().rp1) {
        switch (gpio) {
        case 12:
            return 0;
        case 13:
            return 1;
        case 18:
            return 2;
        case 19:
            return 3;
        default:
            return -1;
        }
    }
    switch (gpio) {
    case 12:
    case 18:
    case 40:
        return 0;
    case 13:
    case 19:
    case 41:
    case 45:
        return 1;
    default:
        return -1;
    }
}

int pwm_function(int gpio)
{
    if (pwm_channel(gpio) < 0)
        return -1;
    if (model().rp1)
        return gpio < 16 ? fn_alt0 : fn_alt3;
    return gpio == 18 || gpio == 19 ? fn_alt5 : fn_alt0;
}

int pwm_divisor(int divisor)
{
    if (divisor > 4095)
        divisor = 4095;
    if (model().rp1)
        return divisor < 1 ? 0 : 500 * divisor / 192;
    if (std::string(model().word) == "pi4")
        divisor = 540 * divisor / 192;
    return divisor < 1 ? 1 : divisor;
}

double pwm_clock_hz(unsigned held)
{
    if (held == 0)
        return 0;
    const double oscillator = model().rp1                          ? 50e6
                              : std::string(model().word) == "pi4" ? 54e6
                                                                   : 19.2e6;
    return oscillator / held;
}

} // namespace wpisim::gpio::pi
