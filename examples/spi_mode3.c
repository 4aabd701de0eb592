// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* spi_mode3: four bytes out on SPI channel 0 in mode 3 (clock idle high, data
 * taken on the rising edge) at 500 kHz, and what came back. */
#include <stdio.h>
#include <wiringPiSPI.h>

int main(void)
{
    if (wiringPiSPISetupMode(0, 500000, 3) < 0) {
        perror("spi_mode3: wiringPiSPISetupMode");
        return 1;
    }
    unsigned char data[] = {0xde, 0xad, 0xbe, 0xef};
    printf("out:");
    for (unsigned int i = 0; i < sizeof data; i++)
        printf(" %02x", data[i]);
    printf("\n");
    /* Full duplex, in place: data now holds what the other end sent. */
    if (wiringPiSPIDataRW(0, data, (int)sizeof data) < 0) {
        perror("spi_mode3: wiringPiSPIDataRW");
        return 1;
    }
    printf("in:");
    for (unsigned int i = 0; i < sizeof data; i++)
        printf(" %02x", data[i]);
    printf("\n");
    return 0;
}
