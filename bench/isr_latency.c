// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* Records when each falling edge on GPIO 22 reaches the interrupt handler,
 * for parley_bench, which drives the pin with `wpisim pin`. Makes READY_FILE
 * once the handler is in place; prints one monotonic time in ns per edge and
 * ends after EDGES edges, or after 60 s.
 *
 *   bench_isr_latency EDGES READY_FILE */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <wiringPi.h>

#define PIN 22
#define MAX_EDGES 1000

static long long seen_ns[MAX_EDGES];
static int edges;

static void on_edge(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    piLock(0);
    if (edges < MAX_EDGES)
        seen_ns[edges++] = (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
    piUnlock(0);
}

int main(int argc, char **argv)
{
    const int want = argc == 3 ? atoi(argv[1]) : 0;
    if (want < 1 || want > MAX_EDGES) {
        fprintf(stderr, "usage: bench_isr_latency EDGES(1-%d) READY_FILE\n", MAX_EDGES);
        return 2;
    }
    if (wiringPiSetupGpio() != 0)
        return 1;
    pinMode(PIN, INPUT);
    pullUpDnControl(PIN, PUD_UP);
    wiringPiISR(PIN, INT_EDGE_FALLING, &on_edge);
    FILE *ready = fopen(argv[2], "w");
    if (ready == NULL || fclose(ready) != 0) {
        perror("bench_isr_latency: READY_FILE");
        return 1;
    }
    int got = 0;
    for (int waited = 0; got < want && waited < 60000; waited++) {
        delay(1);
        piLock(0);
        got = edges;
        piUnlock(0);
    }
    piLock(0);
    for (int i = 0; i < edges; i++)
        printf("%lld\n", seen_ns[i]);
    piUnlock(0);
    return got < want;
}
