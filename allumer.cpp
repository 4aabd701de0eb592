// allumer: makes pin 0 an output and drives it high.

#include <wiringPi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

int main()
{
    errno = 0;
    // On failure the library has no GPIO mapped; pinMode would write through nothing.
    if (wiringPiSetup() < 0)
        return fail("cannot set up GPIO access", errno);
    pinMode(pin, OUTPUT);
    digitalWrite(pin, level);
    return 0;
}
