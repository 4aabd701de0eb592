// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* Host stand-in for wiringPi's SPI calls; like the library's header, it does
 * not include wiringPi.h. */
#ifndef WIRINGPI_SPI_H
#define WIRINGPI_SPI_H

#ifdef __cplusplus
extern "C" {
#endif

int wiringPiSPIGetFd(int channel);
int wiringPiSPIDataRW(int channel, unsigned char *data, int len);
int wiringPiSPISetupMode(int channel, int speed, int mode);
int wiringPiSPISetup(int channel, int speed);
int wiringPiSPIClose(const int channel);

int wiringPiSPIxGetFd(const int number, const int channel);
int wiringPiSPIxDataRW(const int number, const int channel, unsigned char *data, const int len);
int wiringPiSPIxSetupMode(const int number, const int channel, const int speed, const int mode);
int wiringPiSPIxSetup(const int number, const int channel, const int speed);
int wiringPiSPIxClose(const int number, const int channel);

#ifdef __cplusplus
}
#endif

#endif
