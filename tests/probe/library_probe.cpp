// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Calls the library as told on the command line, one line of results per
// call, so tests can check the stand-in's own contract.
//   spi-setup CH SPEED | transfer CH HEX | delay MS | gpio-setup | mode PIN M | write PIN V
//   setup wpi|gpio|phys|sys | read PIN | pull PIN PUD | alt PIN | micros | delay-us US
//   pwm PIN V | pwm-mode M | pwm-range R | pwm-clock D | soft-pwm PIN V RANGE
//   isr PIN MODE (its function prints "isr PIN MICROS") | isr-stop PIN | wait PIN MS

#include <softPwm.h>
#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <hex.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

int number(const char *text)
{
    return static_cast<int>(std::strtol(text, nullptr, 0));
}

// The interrupt functions, one per pin a run watches; each says when it ran.
int watched[64];
template <int N> void interrupted()
{
    std::printf("isr %d %u\n", watched[N], micros());
    std::fflush(stdout);
}
void (*const functions[])() = {interrupted<0>, interrupted<1>, interrupted<2>, interrupted<3>};
int watches = 0;

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string verb = argv[i];
        auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : "0"; };
        errno = 0;
        if (verb == "spi-setup") {
            const int channel = number(next());
            const int r = wiringPiSPISetup(channel, number(next()));
            std::printf("%d %d\n", r < 0 ? -1 : 0, errno);
        } else if (verb == "transfer") {
            const int channel = number(next());
            const char *digits = next();
            const auto decoded = wpisim::hex::decode(digits);
            if (!decoded) {
                std::fprintf(stderr, "library_probe: not hex: %s\n", digits);
                return 2;
            }
            std::vector<unsigned char> data = *decoded;
            const int r = wiringPiSPIDataRW(channel, data.data(), static_cast<int>(data.size()));
            std::printf("%d %d ", r, errno);
            std::printf("%s\n", wpisim::hex::encode(data.data(), data.size()).c_str());
        } else if (verb == "delay") {
            delay(static_cast<unsigned>(number(next())));
        } else if (verb == "gpio-setup") {
            std::printf("%d %d\n", wiringPiSetup(), errno);
        } else if (verb == "mode") {
            const int pin = number(next());
            pinMode(pin, number(next()));
        } else if (verb == "write") {
            const int pin = number(next());
            digitalWrite(pin, number(next()));
        } else if (verb == "setup") {
            const std::string how = next();
            const int r = how == "gpio"   ? wiringPiSetupGpio()
                          : how == "phys" ? wiringPiSetupPhys()
                          : how == "sys"  ? wiringPiSetupSys()
                                          : wiringPiSetup();
            std::printf("%d\n", r);
        } else if (verb == "read") {
            std::printf("%d\n", digitalRead(number(next())));
        } else if (verb == "pull") {
            const int pin = number(next());
            pullUpDnControl(pin, number(next()));
        } else if (verb == "alt") {
            std::printf("%d\n", getAlt(number(next())));
        } else if (verb == "micros") {
            std::printf("%u\n", micros());
        } else if (verb == "delay-us") {
            delayMicroseconds(static_cast<unsigned>(number(next())));
        } else if (verb == "pwm") {
            const int pin = number(next());
            pwmWrite(pin, number(next()));
        } else if (verb == "pwm-mode") {
            pwmSetMode(number(next()));
        } else if (verb == "pwm-range") {
            pwmSetRange(static_cast<unsigned>(number(next())));
        } else if (verb == "pwm-clock") {
            pwmSetClock(number(next()));
        } else if (verb == "soft-pwm") {
            const int pin = number(next());
            const int value = number(next());
            std::printf("%d\n", softPwmCreate(pin, value, number(next())));
        } else if (verb == "isr") {
            const int pin = number(next());
            const int mode = number(next());
            if (watches == 4)
                return 2;
            watched[watches] = pin;
            std::printf("%d\n", wiringPiISR(pin, mode, functions[watches++]));
        } else if (verb == "isr-stop") {
            std::printf("%d\n", wiringPiISRStop(number(next())));
        } else if (verb == "wait") {
            const int pin = number(next());
            const int r = waitForInterrupt(pin, number(next()));
            std::printf("wait %d %u\n", r, micros());
        } else {
            std::fprintf(stderr, "library_probe: unknown call %s\n", verb.c_str());
            return 2;
        }
    }
    return 0;
}
