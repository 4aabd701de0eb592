// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* i2c_registers: reads and writes the registers of an I2C device at 0x08 on
 * the Pi's I2C bus (SDA on GPIO 2, header pin 3; SCL on GPIO 3, pin 5), an
 * Arduino running examples/sketches/i2c_registers. Says how long the first
 * register read took on the wire. */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <wiringPi.h>
#include <wiringPiI2C.h>

#define DEVICE 0x08

static int failed(const char *what)
{
    fprintf(stderr, "i2c_registers: %s: %s\n", what, strerror(errno));
    return 1;
}

int main(void)
{
    if (wiringPiSetupGpio() != 0) {
        fprintf(stderr, "i2c_registers: wiringPiSetupGpio failed\n");
        return 1;
    }
    const int fd = wiringPiI2CSetup(DEVICE);
    if (fd < 0)
        return failed("cannot open the I2C bus");

    const unsigned int before = micros();
    const int id = wiringPiI2CReadReg8(fd, 0);
    const unsigned int took = micros() - before;
    if (id < 0)
        return failed("cannot read register 0");
    printf("id: 0x%02x (read in %u us)\n", id, took);

    const int version = wiringPiI2CReadReg8(fd, 1);
    const int word = wiringPiI2CReadReg16(fd, 4);
    if (version < 0 || word < 0)
        return failed("cannot read the registers");
    printf("version: %d\nword: 0x%04x\n", version, word);

    if (wiringPiI2CWriteReg8(fd, 2, 0x99) < 0)
        return failed("cannot write register 2");
    printf("register 2: 0x%02x\n", wiringPiI2CReadReg8(fd, 2));
    printf("reads served: %d\n", wiringPiI2CReadReg8(fd, 3));
    return 0;
}
