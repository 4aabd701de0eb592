// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The library's SPI calls: those without a number are SPI0's, and
// wiringPiSPISetup is mode 0. wiringPiSPIxSetup is declared but, as in the
// library, not there: a program that calls it does not link.

#include "spi_bus.hpp"

#include <wiringPiSPI.h>

extern "C" int wiringPiSPIxGetFd(const int number, const int channel)
{
    return wpisim::bus::fd(number, channel);
}

extern "C" int wiringPiSPIxDataRW(const int number, const int channel, unsigned char *data,
                                  const int len)
{
    return wpisim::bus::transfer(number, channel, data, len);
}

extern "C" int wiringPiSPIxSetupMode(const int number, const int channel, const int speed,
                                     const int mode)
{
    return wpisim::bus::setup(number, channel, speed, mode);
}

extern "C" int wiringPiSPIxClose(const int number, const int channel)
{
    return wpisim::bus::close(number, channel);
}

extern "C" int wiringPiSPIGetFd(int channel)
{
    return wpisim::bus::fd(0, channel);
}

extern "C" int wiringPiSPIDataRW(int channel, unsigned char *data, int len)
{
    return wpisim::bus::transfer(0, channel, data, len);
}

extern "C" int wiringPiSPISetupMode(int channel, int speed, int mode)
{
    return wpisim::bus::setup(0, channel, speed, mode);
}

extern "C" int wiringPiSPISetup(int channel, int speed)
{
    return wpisim::bus::setup(0, channel, speed, 0);
}

extern "C" int wiringPiSPIClose(const int channel)
{
    return wpisim::bus::close(0, channel);
}
