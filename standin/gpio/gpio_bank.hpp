// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

namespace wpisim::gpio
{

// The simulated GPIO bank behind wiringPiSetup, pinMode and digitalWrite.
// fault: the errno a test asked set-up to fail with, or 0.
int setup(int fault);
void set_mode(int pin, int mode);
void write(int pin, int value);

} // namespace wpisim::gpio
