// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* timing: how long delay() and delayMicroseconds() take, as millis() and
 * micros() see it. */
#include <stdio.h>
#include <wiringPi.h>

int main(void)
{
    if (wiringPiSetup() != 0) {
        fprintf(stderr, "timing: wiringPiSetup failed\n");
        return 1;
    }
    const unsigned int ms_start = millis();
    delay(250);
    printf("delay(250): %u ms\n", millis() - ms_start);

    static const unsigned int waits_us[] = {10, 100, 2000};
    for (unsigned int i = 0; i < sizeof waits_us / sizeof waits_us[0]; i++) {
        const unsigned int start = micros();
        delayMicroseconds(waits_us[i]);
        printf("delayMicroseconds(%u): %u us\n", waits_us[i], micros() - start);
    }

    /* A busy loop of reads: its own cost per call. */
    const unsigned int start = micros();
    for (int i = 0; i < 1000; i++)
        (void)digitalRead(0);
    printf("1000 digitalRead calls: %u us\n", micros() - start);
    printf("since set-up: %u ms\n", millis());
    return 0;
}
