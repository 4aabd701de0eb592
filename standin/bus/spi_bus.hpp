// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

namespace wpisim::bus
{

// The simulated SPI bus behind wiringPiSPISetup and wiringPiSPIDataRW, with
// the same arguments, results and errno.
int setup(int channel, int speed);
int transfer(int channel, unsigned char *data, int len);

} // namespace wpisim::bus
