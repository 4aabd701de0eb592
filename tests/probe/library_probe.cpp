// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Calls the library as told on the command line, one line of results per
// call, so tests can check the stand-in's own contract.
//   spi-setup CH SPEED | transfer CH HEX | delay MS | gpio-setup | mode PIN M | write PIN V

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
        } else {
            std::fprintf(stderr, "library_probe: unknown call %s\n", verb.c_str());
            return 2;
        }
    }
    return 0;
}
