// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* Host stand-in for wiringPi's SPI calls; like the library's header, it does
 * not include wiringPi.h. */
#ifndef WIRINGPI_SPI_H
#define WIRINGPI_SPI_H

#ifdef __cplusplus
extern "C" {
#endif

int wiringPiSPISetup(int channel, int speed);
int wiringPiSPIDataRW(int channel, unsigned char *data, int len);

#ifdef __cplusplus
}
#endif

#endif
