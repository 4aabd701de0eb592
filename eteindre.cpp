// eteindre: makes pin 0 an output and drives it low.

#include <wiringPi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main()
{
    errno = 0;
    // On failure the library has no GPIO mapped; pinMode would write through nothing.
    if (wiringPiSetup() < 0) {
        const int err = errno;
        std::fprintf(stderr, "eteindre: cannot set up GPIO access: %s\n",
                     err != 0 ? std::strerror(err) : "unknown error");
        return 1;
    }
    pinMode(0, OUTPUT);
    digitalWrite(0, LOW);
    return 0;
}
