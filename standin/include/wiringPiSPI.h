// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* wiringPi 3.14's SPI header, as the stand-in serves it. Like the library's,
 * it has no include guard and does not include wiringPi.h: it only declares,
 * so reading it twice, or with the library's own, is harmless. */

// NOLINTBEGIN: the library's C declarations, kept as it spells them.

#ifdef __cplusplus
extern "C" {
#endif

int wiringPiSPIGetFd(int channel);
int wiringPiSPIDataRW(int channel, unsigned char *data, int len);
int wiringPiSPISetupMode(int channel, int speed, int mode);
int wiringPiSPISetup(int channel, int speed);
int wiringPiSPIClose(const int channel);

/* The same on SPI bus `number` (0 is /dev/spidev0.*) */
int wiringPiSPIxGetFd(const int number, const int channel);
int wiringPiSPIxDataRW(const int number, const int channel, unsigned char *data, const int len);
int wiringPiSPIxSetupMode(const int number, const int channel, const int speed, const int mode);
int wiringPiSPIxSetup(const int number, const int channel, const int speed);
int wiringPiSPIxClose(const int number, const int channel);

#ifdef __cplusplus
}
#endif

// NOLINTEND
