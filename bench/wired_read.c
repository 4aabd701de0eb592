// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* What a digitalRead of a GPIO wired to a board costs in host time, on wall
 * time: each read first runs the board to now. Prints "name value" lines
 * for parley_bench.
 *
 *   bench_wired_read GPIO READS */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <wiringPi.h>

static long long now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static int by_value(const void *a, const void *b)
{
    const long long x = *(const long long *)a;
    const long long y = *(const long long *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv)
{
    if (argc != 3 || atoi(argv[2]) < 1) {
        fprintf(stderr, "usage: bench_wired_read GPIO READS\n");
        return 2;
    }
    const int pin = atoi(argv[1]);
    const int reads = atoi(argv[2]);
    long long *took = malloc(sizeof *took * (size_t)reads);
    if (took == NULL || wiringPiSetupGpio() != 0)
        return 1;
    pinMode(pin, INPUT);
    int highs = 0;
    for (int i = 0; i < reads; i++) {
        const long long start = now_ns();
        highs += digitalRead(pin);
        took[i] = now_ns() - start;
    }
    qsort(took, (size_t)reads, sizeof *took, by_value);
    printf("wired_read_ns %lld\nwired_read_max_ns %lld\nwired_read_highs %d\n", took[reads / 2],
           took[reads - 1], highs);
    free(took);
    return 0;
}
