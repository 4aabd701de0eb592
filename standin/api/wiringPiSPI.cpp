// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wiringPiSPI.h's calls, on the simulated bus.

#include "spi_bus.hpp"

#include <wiringPiSPI.h>

extern "C" int wiringPiSPISetup(int channel, int speed)
{
    return wpisim::bus::setup(channel, speed);
}

extern "C" int wiringPiSPIDataRW(int channel, unsigned char *data, int len)
{
    return wpisim::bus::transfer(channel, data, len);
}
