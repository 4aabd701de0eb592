// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* Host stand-in for the GPIO and timing part of wiringPi: same declarations and
 * constants as the library on a Pi, so programs build unchanged against either. */
#ifndef WIRINGPI_H
#define WIRINGPI_H

#define LOW 0
#define HIGH 1

#define INPUT 0
#define OUTPUT 1

#ifdef __cplusplus
extern "C" {
#endif

int wiringPiSetup(void);
void pinMode(int pin, int mode);
void digitalWrite(int pin, int value);
void delay(unsigned int howLong);

#ifdef __cplusplus
}
#endif

#endif
