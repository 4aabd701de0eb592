// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* interrupt_counter: counts falling edges on GPIO 22 (header pin 15), held
 * high by the pull-up, in an interrupt handler; prints the count each second
 * for three seconds. wiringPiISR itself takes a second to return. */
#include <stdio.h>
#include <wiringPi.h>

#define INPUT_PIN 22
#define SECONDS 3

static int edges;

/* Runs on wiringPi's interrupt thread, so the count is shared under a lock. */
static void on_falling_edge(void)
{
    piLock(0);
    edges++;
    piUnlock(0);
}

int main(void)
{
    if (wiringPiSetupGpio() != 0) {
        fprintf(stderr, "interrupt_counter: wiringPiSetupGpio failed\n");
        return 1;
    }
    pinMode(INPUT_PIN, INPUT);
    pullUpDnControl(INPUT_PIN, PUD_UP);
    if (wiringPiISR(INPUT_PIN, INT_EDGE_FALLING, &on_falling_edge) != 0) {
        fprintf(stderr, "interrupt_counter: wiringPiISR failed\n");
        return 1;
    }
    for (int s = 1; s <= SECONDS; s++) {
        delay(1000);
        piLock(0);
        const int seen = edges;
        piUnlock(0);
        printf("%u ms: %d edges\n", millis(), seen);
    }
    wiringPiISRStop(INPUT_PIN);
    return 0;
}
