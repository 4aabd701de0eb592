// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* button: a push button from GPIO 27 (header pin 13) to ground, the pin held
 * high by the Pi's own pull-up, so a press reads low. Polls every 10 ms,
 * which also rides over contact bounce, and ends after three presses (or
 * after 30 s with none). */
#include <stdio.h>
#include <wiringPi.h>

#define BUTTON 27
#define PRESSES 3
#define POLL_MS 10
#define GIVE_UP_MS 30000

int main(void)
{
    if (wiringPiSetupGpio() != 0) {
        fprintf(stderr, "button: wiringPiSetupGpio failed\n");
        return 1;
    }
    pinMode(BUTTON, INPUT);
    pullUpDnControl(BUTTON, PUD_UP);

    int presses = 0;
    int was = digitalRead(BUTTON);
    unsigned int last_press = millis();
    while (presses < PRESSES) {
        delay(POLL_MS);
        const int now = digitalRead(BUTTON);
        if (was == HIGH && now == LOW) {
            presses++;
            last_press = millis();
            printf("press %d at %u ms\n", presses, last_press);
        }
        was = now;
        if (millis() - last_press > GIVE_UP_MS) {
            fprintf(stderr, "button: no press for %d s, giving up\n", GIVE_UP_MS / 1000);
            return 1;
        }
    }
    return 0;
}
