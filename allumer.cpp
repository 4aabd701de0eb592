// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// allumer: makes pin 0 an output and drives it high.

#include <wiringPi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

static constexpr int pin = 0;
static constexpr int level = HIGH;

static const char *reason(int err)
{
    return err != 0 ? std::strerror(err) : "unknown error";
}

// One line on stderr, "allumer: what: why"; returns the exit status.
static int fail(const char *what, int err)
{
    std::fprintf(stderr, "allumer: %s: %s\n", what, reason(err));
    return 1;
}

// A closed 0, 1 or 2 would be the next number open() hands out, and a file
// the library opens would receive what is meant for stderr. Read-only
// /dev/null fills the gap: input ends at once, and writes fail with EBADF as
// they would have.
static bool fill_closed_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDONLY) != fd)
            return false;
    }
    return true;
}

int main()
{
    if (!fill_closed_standard_descriptors())
        return fail("cannot open /dev/null", errno);

    errno = 0;
    // On failure the library has no GPIO mapped; pinMode would write through nothing.
    if (wiringPiSetup() < 0)
        return fail("cannot set up GPIO access", errno);
    pinMode(pin, OUTPUT);
    digitalWrite(pin, level);
    return 0;
}
