// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* What one wiringPiI2CReadReg8 of a Wire sketch at 0x08 costs: in host
 * time, the median over batches, and on the bus, from micros() (exact on the
 * virtual clock). Prints "name value" lines for parley_bench. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <wiringPi.h>
#include <wiringPiI2C.h>

#define BATCH 100
#define BATCHES 21

static long long now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static int by_value(const void *a, const void *b)
{
    const double x = *(const double *)a;
    const double y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(void)
{
    if (wiringPiSetupGpio() != 0)
        return 1;
    const int fd = wiringPiI2CSetup(0x08);
    /* The board process starts, and the sketch's setup() runs, before the clock starts. */
    if (fd < 0 || wiringPiI2CReadReg8(fd, 0) < 0)
        return 1;
    double host_us[BATCHES];
    double bus_us[BATCHES];
    for (int b = 0; b < BATCHES; b++) {
        const long long start = now_ns();
        const unsigned int on_bus = micros();
        for (int i = 0; i < BATCH; i++)
            if (wiringPiI2CReadReg8(fd, i & 7) < 0)
                return 1;
        bus_us[b] = (double)(micros() - on_bus) / BATCH;
        host_us[b] = (double)(now_ns() - start) / 1e3 / BATCH;
    }
    qsort(host_us, BATCHES, sizeof host_us[0], by_value);
    qsort(bus_us, BATCHES, sizeof bus_us[0], by_value);
    printf("host_i2c_read_reg8_us %.2f\n", host_us[BATCHES / 2]);
    printf("bus_i2c_read_reg8_us %.2f\n", bus_us[BATCHES / 2]);
    return 0;
}
