// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Sends a line to the board on the Pi's serial port (GPIO 14 and 15, wired
// to the Arduino's D0 and D1 through a level shifter) and prints its answer.
// The board's sketch answers at 9600 baud; run with another rate to see
// what a mismatch does: serial_upper [BAUD]

#include <wiringPi.h>
#include <wiringSerial.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    const int baud = argc > 1 ? atoi(argv[1]) : 9600;
    if (wiringPiSetup() != 0)
        return 1;
    const int fd = serialOpen("/dev/serial0", baud);
    if (fd < 0) {
        fprintf(stderr, "serial_upper: cannot open /dev/serial0: %s\n",
                fd == -2 ? "baud rate not supported" : strerror(errno));
        return 1;
    }
    const unsigned start = millis();
    serialPuts(fd, "hello board\n");
    char reply[80];
    int n = 0;
    int c = 0;
    // serialGetchar gives -1 after ten seconds without a byte.
    while (n < (int)sizeof reply - 1 && (c = serialGetchar(fd)) >= 0 && c != '\n')
        reply[n++] = (char)c;
    reply[n] = '\0';
    if (c == '\n') {
        printf("reply after %u ms: %s\n", millis() - start, reply);
    } else {
        printf("no whole reply after %u ms, %d bytes:", millis() - start, n);
        for (int i = 0; i < n; ++i)
            printf(" %02x", (unsigned char)reply[i]);
        printf("\n");
    }
    serialClose(fd);
    return 0;
}
