// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* wiringPi 3.14's I2C header, as the stand-in serves it. Like the library's,
 * it has no include guard: it only declares, so reading it twice is harmless. */

// NOLINTBEGIN: the library's C declarations, kept as it spells them.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

extern int wiringPiI2CRead(int fd);
extern int wiringPiI2CReadReg8(int fd, int reg);
extern int wiringPiI2CReadReg16(int fd, int reg);
extern int wiringPiI2CReadBlockData(int fd, int reg, uint8_t *values, uint8_t size);
extern int wiringPiI2CRawRead(int fd, uint8_t *values, uint8_t size);

extern int wiringPiI2CWrite(int fd, int data);
extern int wiringPiI2CWriteReg8(int fd, int reg, int data);
extern int wiringPiI2CWriteReg16(int fd, int reg, int data);
extern int wiringPiI2CWriteBlockData(int fd, int reg, const uint8_t *values, uint8_t size);
extern int wiringPiI2CRawWrite(int fd, const uint8_t *values, uint8_t size);

extern int wiringPiI2CSetupInterface(const char *device, int devId);
extern int wiringPiI2CSetup(const int devId);

#ifdef __cplusplus
}
#endif
// NOLINTEND
