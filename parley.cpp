// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// parley: sends two operator-chosen bytes to the board on SPI channel 0 about
// twice a second and prints what the board clocks back, until the board's
// first byte is 'i'.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>

static constexpr int channel = 0;
static constexpr int speed = 5000; // Hz
static constexpr int length = 2;   // bytes per transfer
static constexpr unsigned settle_ms = 10;
static constexpr unsigned pace_ms = 500;

static unsigned char buffer[length];
static unsigned char out[length];
static unsigned char in[length];

static const char *reason(int err)
{
    return err != 0 ? std::strerror(err) : "unknown error";
}

// One line on stderr, "parley: what: why"; returns the exit status.
static int fail(const char *what, int err)
{
    std::cerr << "parley: " << what << ": " << reason(err) << '\n';
    return 1;
}

// A closed 0, 1 or 2 would be the next number open() hands out, and the SPI
// device would take the place of our input or output. Read-only /dev/null
// fills the gap: input ends at once, and writes fail with EBADF as they would have.
static bool fill_closed_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDONLY) != fd)
            return false;
    }
    return true;
}

// Flushed at once: a prompt nobody can see must stop us before we read or
// send anything.
static bool prompt(const char *text)
{
    errno = 0;
    std::cout << text << std::flush;
    return static_cast<bool>(std::cout);
}

// End of input leaves the byte as it was; only a failed read is an error.
// std::cin reads through stdin (synced with stdio), whose error flag tells
// the two apart.
static bool read_byte(unsigned char &byte)
{
    errno = 0;
    std::cin >> byte;
    return std::ferror(stdin) == 0;
}

int main()
{
    if (!fill_closed_standard_descriptors())
        return fail("cannot open /dev/null", errno);

    errno = 0;
    if (wiringPiSPISetup(channel, speed) < 0) {
        const int err = errno;
        const std::string what = "cannot open SPI channel " + std::to_string(channel);
        return fail(what.c_str(), err);
    }

    if (!prompt("out0 -> a/b ?\n"))
        return fail("cannot write prompt", errno);
    if (!read_byte(out[0]))
        return fail("cannot read input", errno);
    if (!prompt("out1 -> c/d ?\n"))
        return fail("cannot write prompt", errno);
    if (!read_byte(out[1]))
        return fail("cannot read input", errno);

    do {
        buffer[0] = out[0];
        buffer[1] = out[1];
        errno = 0;
        // Unchecked, a failed transfer would show our own bytes as the board's.
        if (wiringPiSPIDataRW(channel, buffer, length) < 0)
            return fail("SPI transfer failed", errno);
        delay(settle_ms);
        in[0] = buffer[0];
        in[1] = buffer[1];

        // A fresh state, so a failure here reports this write's own errno.
        std::cout.clear();
        errno = 0;
        // Flushed now: Ctrl-C is the usual way out and must not lose lines.
        std::cout << " arduino dit :" << in[0] << in[1] << '\n' << std::flush;
        if (!std::cout)
            return fail("cannot write reply line", errno);
        delay(pace_ms);
    } while (in[0] != 'i');

    return 0;
}
