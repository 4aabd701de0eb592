// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// A Pi's pins: wiringPi 3.14's numbering tables, the header as `gpio readall`
// lists it, and each header GPIO's pull after power-on.

#include "pi_model.hpp"

#include <vector>

namespace wpisim::pi
{

// A pin number that names no GPIO.
constexpr int no_gpio = -1;

// 3.14's tables, indexed 0..63 (the library masks with & 63 or indexes
// unchecked): the BCM GPIO of a wiringPi pin and of a physical pin, for a
// layout (1 or 2). Outside 0..63: no_gpio. Layout 2's physical table reaches
// the old Model B's P5 connector (51-54: GPIO 28-31), and its entry 63 is a
// 0 the library never wrote (so physPinToGpio(63) and (-1) give GPIO 0).
int wpi_to_bcm(int layout, int wpi);
int phys_to_bcm(int layout, int phys);

// The other way: the wiringPi pin of a BCM GPIO, or no_gpio.
int bcm_to_wpi(int layout, int bcm);

struct HeaderPin {
    int physical;     // 1..40, or 1..26 on a Model A or B
    const char *name; // as `gpio readall` names it: 3.3v, 5v, 0v, GPIO. 0, CE0...
    int bcm;          // no_gpio for a power or ground pin
    int wpi;          // no_gpio for a power or ground pin
};

// The model's header, pin 1 first.
const std::vector<HeaderPin> &header(const Model &m);

// The header pin a BCM GPIO comes out on, or no_gpio.
int bcm_to_phys(const Model &m, int bcm);

enum class Pull { none, down, up };

// A header GPIO's pull after power-on (Pull::none for one not on the
// header): GPIO 0-8 up and 9-27 down on every model. The Pi 5 keeps that
// split for compatibility, and 3.14's own pad values for its pins say the
// same (pull-up for 0-8, pull-down from 9).
Pull power_on_pull(const Model &m, int bcm);

// The header's I2C pins (physical 3 and 5) also have 1.8 kOhm pull-ups on
// the board, so they read high whatever their internal pull.
bool board_pull_up(const Model &m, int bcm);

} // namespace wpisim::pi
