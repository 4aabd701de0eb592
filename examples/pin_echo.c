// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// GPIO wired to a board both ways (its sketch: sketches/pin_echo): GPIO 17
// drives the board's D2, which the board copies to D3, wired back to GPIO 27;
// the board's "data ready" line D4, on GPIO 22, interrupts the Pi.

#include <wiringPi.h>

#include <stdio.h>

enum { out = 17, back = 27, ready = 22 };

static volatile int readies;
static volatile unsigned first_ready;

static void on_ready(void)
{
    if (readies++ == 0)
        first_ready = micros();
}

int main(void)
{
    if (wiringPiSetupGpio() != 0)
        return 1;
    pinMode(out, OUTPUT);
    pinMode(back, INPUT);
    if (wiringPiISR(ready, INT_EDGE_RISING, on_ready) != 0)
        return 1;
    for (int i = 0; i < 3; ++i) {
        digitalWrite(out, HIGH);
        delay(1);
        printf("wrote high, read %d\n", digitalRead(back));
        digitalWrite(out, LOW);
        delay(1);
        printf("wrote low, read %d\n", digitalRead(back));
    }
    delay(200);
    printf("%d ready pulses, the first at %u us\n", readies, first_ready);
    return 0;
}
