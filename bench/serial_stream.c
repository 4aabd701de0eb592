// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* Streams bytes both ways over the Pi's serial port for parley_bench, against
 * a sketch that echoes them: writes as fast as the line takes them and reads
 * the echo, with plain write, read and poll on serialOpen's descriptor, for
 * SECONDS of wall time, then for the last echoes until none comes for two
 * seconds. Prints "sent received wrong steady": bytes written, bytes echoed,
 * echoes not the byte expected next, and the echoes a second from the first
 * tenth of the time to the last, when the line runs steadily.
 *
 *   bench_serial_stream BAUD SECONDS */
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <wiringSerial.h>

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* A byte that shows a loss: the stream counts through 251 values. */
static unsigned char pattern(long long k)
{
    return (unsigned char)(k % 251);
}

int main(int argc, char **argv)
{
    const int baud = argc == 3 ? atoi(argv[1]) : 0;
    const int seconds = argc == 3 ? atoi(argv[2]) : 0;
    if (baud <= 0 || seconds < 1 || seconds > 600) {
        fprintf(stderr, "usage: bench_serial_stream BAUD SECONDS(1-600)\n");
        return 2;
    }
    const int fd = serialOpen("/dev/serial0", baud);
    if (fd < 0) {
        perror("bench_serial_stream: /dev/serial0");
        return 1;
    }
    long long sent = 0;
    long long received = 0;
    long long wrong = 0;
    long long last = 0;
    long long at_first_tenth = -1;
    long long at_last_tenth = -1;
    const long long start = now_ms();
    const long long stop = start + seconds * 1000LL;
    while (now_ms() < stop || (received < sent && now_ms() < (last > stop ? last : stop) + 2000)) {
        struct pollfd p = {fd, (short)(POLLIN | (now_ms() < stop ? POLLOUT : 0)), 0};
        if (poll(&p, 1, 10) < 0)
            return 1;
        if (p.revents & POLLOUT) {
            unsigned char out[64];
            for (int i = 0; i < (int)sizeof out; ++i)
                out[i] = pattern(sent + i);
            const ssize_t n = write(fd, out, sizeof out);
            if (n > 0)
                sent += n;
        }
        if (at_first_tenth < 0 && now_ms() >= start + seconds * 100LL)
            at_first_tenth = received;
        if (at_last_tenth < 0 && now_ms() >= start + seconds * 900LL)
            at_last_tenth = received;
        if (p.revents & POLLIN) {
            unsigned char in[256];
            const ssize_t n = read(fd, in, sizeof in);
            for (ssize_t i = 0; i < n; ++i, ++received)
                wrong += in[i] != pattern(received);
            if (n > 0)
                last = now_ms();
        }
    }
    serialClose(fd);
    printf("%lld %lld %lld %.1f\n", sent, received, wrong,
           (double)(at_last_tenth - at_first_tenth) / (seconds * 0.8));
    return 0;
}
