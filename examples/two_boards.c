// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Two boards on the Pi's SPI bus, one on each chip select (their sketches:
// sketches/spi_upper on CE0, sketches/spi_lower on CE1): the same bytes to
// each, and what each answers: a byte late, as an SPI slave answers. 50 kHz
// leaves the sketches time to load each answer between two bytes.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <stdio.h>
#include <string.h>

static void ask(int channel)
{
    unsigned char data[8];
    memcpy(data, "Hello!!", sizeof data);
    if (wiringPiSPIDataRW(channel, data, sizeof data) < 0) {
        perror("two_boards: wiringPiSPIDataRW");
        return;
    }
    printf("CE%d:", channel);
    for (size_t i = 1; i < sizeof data; i++)
        printf(" %c", data[i] >= ' ' && data[i] < 127 ? data[i] : '.');
    printf("\n");
}

int main(void)
{
    if (wiringPiSetupGpio() != 0 || wiringPiSPISetup(0, 50000) < 0 ||
        wiringPiSPISetup(1, 50000) < 0)
        return 1;
    ask(0);
    ask(1);
    return 0;
}
