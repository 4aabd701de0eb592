// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* What one call of the stand-in costs in host time, beside a plain volatile
 * store, and on the virtual clock when WPISIM_TIME=virtual. Prints
 * "name value" lines for parley_bench.
 *
 *   bench_gpio_calls host | virtual */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wiringPi.h>

#define OUT_PIN 5 /* BCM; nothing drives either pin */
#define IN_PIN 6
#define BATCH 10000
#define BATCHES 51
#define MILLION 1000000

static volatile int sink;

static long long now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void on_edge(void) {}

static int by_value(const void *a, const void *b)
{
    const double x = *(const double *)a;
    const double y = *(const double *)b;
    return (x > y) - (x < y);
}

enum call { WRITE, READ, MILLIS, STORE, CALLS };
static const char *const names[CALLS] = {"digital_write", "digital_read", "millis",
                                         "volatile_store"};

static void run(enum call c, int n)
{
    for (int i = 0; i < n; i++) {
        switch (c) {
        case WRITE:
            digitalWrite(OUT_PIN, i & 1);
            break;
        case READ:
            sink = digitalRead(IN_PIN);
            break;
        case MILLIS:
            sink = (int)millis();
            break;
        default:
            sink = i;
            break;
        }
    }
}

int main(int argc, char **argv)
{
    if (argc != 2 || (strcmp(argv[1], "host") != 0 && strcmp(argv[1], "virtual") != 0)) {
        fprintf(stderr, "usage: bench_gpio_calls host|virtual\n");
        return 2;
    }
    if (wiringPiSetupGpio() != 0)
        return 1;
    pinMode(OUT_PIN, OUTPUT);
    pinMode(IN_PIN, INPUT);

    if (strcmp(argv[1], "virtual") == 0) {
        /* The bench's own clock, in microseconds: a million calls give ns each. */
        for (int c = WRITE; c <= MILLIS; c++) {
            const unsigned int start = micros();
            run((enum call)c, MILLION);
            printf("virtual_%s_ns %.1f\n", names[c], (double)(micros() - start) * 1000.0 / MILLION);
        }
        unsigned int start = millis();
        delay(10);
        printf("virtual_delay_10_ms %u\n", millis() - start);
        start = millis();
        wiringPiISR(IN_PIN, INT_EDGE_FALLING, &on_edge);
        printf("virtual_isr_setup_ms %u\n", millis() - start);
        return 0;
    }

    /* Interleaved batches, so every kind of call sees the same machine. */
    double per_call[CALLS][BATCHES];
    for (int b = 0; b < BATCHES; b++) {
        for (int c = 0; c < CALLS; c++) {
            const long long start = now_ns();
            run((enum call)c, BATCH);
            per_call[c][b] = (double)(now_ns() - start) / BATCH;
        }
    }
    for (int c = 0; c < CALLS; c++) {
        qsort(per_call[c], BATCHES, sizeof per_call[c][0], by_value);
        printf("host_%s_ns %.2f\n", names[c], per_call[c][BATCHES / 2]);
    }
    const long long start = now_ns();
    run(WRITE, MILLION);
    printf("million_writes_ms %.3f\n", (double)(now_ns() - start) / 1e6);
    return 0;
}
