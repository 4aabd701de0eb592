// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

namespace wpisim::bus
{

// The simulated SPI bus behind wiringPi's SPI calls, with their arguments,
// results, errno and messages: number is the SPI controller, channel its chip
// select, mode the SPI mode 0-3.
int setup(int number, int channel, int speed, int mode);
int transfer(int number, int channel, unsigned char *data, int len);
int fd(int number, int channel);
int close(int number, int channel);

} // namespace wpisim::bus
