// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Calls the library as told on the command line, one line of results per
// call, so tests can check the stand-in's own contract.
//   spi-setup CH SPEED | transfer CH HEX | delay MS | gpio-setup | mode PIN M | write PIN V
//   spi-mode CH SPEED MODE | spix-mode N CH SPEED MODE | spi-fd CH | spi-close CH
// A descriptor a set-up returned is shown as fd#K, K counting the set-ups
// from 1, so a test can tell which one it is.

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

std::vector<int> set_up_fds;

std::string shown(int fd, bool from_set_up)
{
    if (fd >= 0 && from_set_up)
        set_up_fds.push_back(fd);
    for (std::size_t k = 0; fd >= 0 && k < set_up_fds.size(); ++k)
        if (set_up_fds[k] == fd)
            return "fd#" + std::to_string(k + 1);
    return std::to_string(fd);
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
        } else if (verb == "spi-mode" || verb == "spix-mode") {
            const int spi = verb == "spix-mode" ? number(next()) : 0;
            const int channel = number(next());
            const int speed = number(next());
            const int mode = number(next());
            const int r = verb == "spix-mode" ? wiringPiSPIxSetupMode(spi, channel, speed, mode)
                                              : wiringPiSPISetupMode(channel, speed, mode);
            std::printf("%s %d\n", shown(r, true).c_str(), errno);
        } else if (verb == "spi-fd") {
            std::printf("%s\n", shown(wiringPiSPIGetFd(number(next())), false).c_str());
        } else if (verb == "spi-close") {
            const int r = wiringPiSPIClose(number(next()));
            std::printf("%d %d\n", r, errno);
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
