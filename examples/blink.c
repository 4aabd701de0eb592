// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* blink: an LED on GPIO 17 (header pin 11) on and off five times, half a
 * second each way. */
#include <stdio.h>
#include <wiringPi.h>

#define LED 17
#define BLINKS 5

int main(void)
{
    if (wiringPiSetupGpio() != 0) {
        fprintf(stderr, "blink: wiringPiSetupGpio failed\n");
        return 1;
    }
    pinMode(LED, OUTPUT);
    for (int i = 1; i <= BLINKS; i++) {
        digitalWrite(LED, HIGH);
        printf("blink %d: on at %u ms\n", i, millis());
        delay(500);
        digitalWrite(LED, LOW);
        delay(500);
    }
    printf("done at %u ms\n", millis());
    return 0;
}
