// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// softPwm.h and softTone.h: the wave is the pin bank's to show, not a thread's.

#include "pins.hpp"

#include <softPwm.h>
#include <softTone.h>

extern "C" int softPwmCreate(int pin, int value, int range)
{
    return wpisim::gpio::soft_pwm_create(pin, value, range);
}

extern "C" void softPwmWrite(int pin, int value)
{
    wpisim::gpio::soft_pwm_write(pin, value);
}

extern "C" void softPwmStop(int pin)
{
    wpisim::gpio::soft_pwm_stop(pin);
}

extern "C" int softToneCreate(int pin)
{
    return wpisim::gpio::soft_tone_create(pin);
}

extern "C" void softToneWrite(int pin, int freq)
{
    wpisim::gpio::soft_tone_write(pin, freq);
}

extern "C" void softToneStop(int pin)
{
    wpisim::gpio::soft_tone_stop(pin);
}
