// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Calls the library as told on the command line, one line of results per
// call, so tests can check the stand-in's own contract.
//   spi-setup CH SPEED | transfer CH HEX | delay MS | gpio-setup | mode PIN M | write PIN V
//   setup wpi|gpio|phys|sys | read PIN | pull PIN PUD | alt PIN | micros | delay-us US
//   pwm PIN V | pwm-mode M | pwm-range R | pwm-clock D | soft-pwm PIN V RANGE
//   isr PIN MODE (its function prints "isr PIN MICROS") | isr-stop PIN | wait PIN MS
//   byte-write V | byte-read | hi-pri PRIORITY
//   spi-mode CH SPEED MODE | spix-mode N CH SPEED MODE | spi-fd CH | spi-close CH
//   await PATH (until the test makes the file, so a step waits for the test)
//   i2c-setup ADDR, then on its descriptor: i2c-read | i2c-read8 REG | i2c-read16 REG
//   i2c-write V | i2c-write8 REG V | i2c-write16 REG V | i2c-block-read REG N
//   i2c-block-write REG HEX | i2c-raw-read N | i2c-raw-write HEX, and i2c-dev
//   itself: dev-read N | dev-write HEX | dev-slave ADDR (ioctl I2C_SLAVE)
// A descriptor a set-up returned is shown as fd#K, K counting the set-ups
// from 1, so a test can tell which one it is.

#include <softPwm.h>
#include <wiringPi.h>
#include <wiringPiI2C.h>
#include <wiringPiSPI.h>

#include <hex.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <linux/i2c-dev.h>
#include <map>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
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

// A call's result and errno, and what it read when it read all of it.
void result(int r, const std::vector<unsigned char> *got = nullptr)
{
    const int error = errno;
    std::printf("%d %d", r, error);
    if (got != nullptr && r == static_cast<int>(got->size()))
        std::printf(" %s", wpisim::hex::encode(got->data(), got->size()).c_str());
    std::printf("\n");
}

// Until the test makes the file, a minute at most.
bool await_file(const char *path)
{
    const timespec pause{0, 10000000};
    for (int tries = 0; access(path, F_OK) != 0; ++tries) {
        if (tries == 6000) {
            std::fprintf(stderr, "library_probe: await %s: not made within a minute\n", path);
            return false;
        }
        nanosleep(&pause, nullptr);
    }
    return true;
}

std::vector<unsigned char> bytes(const char *digits)
{
    const auto decoded = wpisim::hex::decode(digits);
    if (!decoded) {
        std::fprintf(stderr, "library_probe: not hex: %s\n", digits);
        std::exit(2);
    }
    return *decoded;
}

} // namespace

int main(int argc, char **argv)
{
    int i = 0;
    auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : "0"; };
    auto num = [&] { return number(next()); };
    int failed = 0;
    int i2c = -1;
    const std::map<std::string, std::function<void()>> calls = {
        {"spi-setup",
         [&] {
             const int channel = num();
             const int r = wiringPiSPISetup(channel, num());
             std::printf("%d %d\n", r < 0 ? -1 : 0, errno);
         }},
        {"spi-mode",
         [&] {
             const int channel = num();
             const int speed = num();
             const int r = wiringPiSPISetupMode(channel, speed, num());
             std::printf("%s %d\n", shown(r, true).c_str(), errno);
         }},
        {"spix-mode",
         [&] {
             const int spi = num();
             const int channel = num();
             const int speed = num();
             const int r = wiringPiSPIxSetupMode(spi, channel, speed, num());
             std::printf("%s %d\n", shown(r, true).c_str(), errno);
         }},
        {"spi-fd", [&] { std::printf("%s\n", shown(wiringPiSPIGetFd(num()), false).c_str()); }},
        {"spi-close",
         [&] {
             const int r = wiringPiSPIClose(num());
             std::printf("%d %d\n", r, errno);
         }},
        {"transfer",
         [&] {
             const int channel = num();
             const char *digits = next();
             const auto decoded = wpisim::hex::decode(digits);
             if (!decoded) {
                 std::fprintf(stderr, "library_probe: not hex: %s\n", digits);
                 failed = 2;
                 return;
             }
             std::vector<unsigned char> data = *decoded;
             const int r = wiringPiSPIDataRW(channel, data.data(), static_cast<int>(data.size()));
             std::printf("%d %d ", r, errno);
             std::printf("%s\n", wpisim::hex::encode(data.data(), data.size()).c_str());
         }},
        {"delay", [&] { delay(static_cast<unsigned>(num())); }},
        {"gpio-setup", [&] { std::printf("%d %d\n", wiringPiSetup(), errno); }},
        {"mode",
         [&] {
             const int pin = num();
             pinMode(pin, num());
         }},
        {"write",
         [&] {
             const int pin = num();
             digitalWrite(pin, num());
         }},
        {"setup",
         [&] {
             const std::string how = next();
             const int r = how == "gpio"   ? wiringPiSetupGpio()
                           : how == "phys" ? wiringPiSetupPhys()
                           : how == "sys"  ? wiringPiSetupSys()
                                           : wiringPiSetup();
             std::printf("%d\n", r);
         }},
        {"read", [&] { std::printf("%d\n", digitalRead(num())); }},
        {"pull",
         [&] {
             const int pin = num();
             pullUpDnControl(pin, num());
         }},
        {"alt", [&] { std::printf("%d\n", getAlt(num())); }},
        {"micros", [&] { std::printf("%u\n", micros()); }},
        {"delay-us", [&] { delayMicroseconds(static_cast<unsigned>(num())); }},
        {"pwm",
         [&] {
             const int pin = num();
             pwmWrite(pin, num());
         }},
        {"pwm-mode", [&] { pwmSetMode(num()); }},
        {"pwm-range", [&] { pwmSetRange(static_cast<unsigned>(num())); }},
        {"pwm-clock", [&] { pwmSetClock(num()); }},
        {"soft-pwm",
         [&] {
             const int pin = num();
             const int value = num();
             std::printf("%d\n", softPwmCreate(pin, value, num()));
         }},
        {"isr",
         [&] {
             const int pin = num();
             const int mode = num();
             if (watches == 4) {
                 failed = 2;
                 return;
             }
             watched[watches] = pin;
             std::printf("%d\n", wiringPiISR(pin, mode, functions[watches++]));
         }},
        {"byte-write", [&] { digitalWriteByte(num()); }},
        {"hi-pri",
         [&] {
             const int r = piHiPri(num());
             std::printf("%d %d\n", r, errno);
         }},
        {"byte-read", [&] { std::printf("%u\n", digitalReadByte()); }},
        {"isr-stop", [&] { std::printf("%d\n", wiringPiISRStop(num())); }},
        {"i2c-setup",
         [&] {
             i2c = wiringPiI2CSetup(num());
             std::printf("%s %d\n", shown(i2c, true).c_str(), errno);
         }},
        {"i2c-read", [&] { result(wiringPiI2CRead(i2c)); }},
        {"i2c-read8", [&] { result(wiringPiI2CReadReg8(i2c, num())); }},
        {"i2c-read16", [&] { result(wiringPiI2CReadReg16(i2c, num())); }},
        {"i2c-write", [&] { result(wiringPiI2CWrite(i2c, num())); }},
        {"i2c-write8",
         [&] {
             const int reg = num();
             result(wiringPiI2CWriteReg8(i2c, reg, num()));
         }},
        {"i2c-write16",
         [&] {
             const int reg = num();
             result(wiringPiI2CWriteReg16(i2c, reg, num()));
         }},
        {"i2c-block-read",
         [&] {
             const int reg = num();
             std::vector<unsigned char> got(static_cast<std::size_t>(num()));
             result(wiringPiI2CReadBlockData(i2c, reg, got.data(),
                                             static_cast<std::uint8_t>(got.size())),
                    &got);
         }},
        {"i2c-block-write",
         [&] {
             const int reg = num();
             const std::vector<unsigned char> data = bytes(next());
             result(wiringPiI2CWriteBlockData(i2c, reg, data.data(),
                                              static_cast<std::uint8_t>(data.size())));
         }},
        {"i2c-raw-read",
         [&] {
             std::vector<unsigned char> got(static_cast<std::size_t>(num()));
             result(wiringPiI2CRawRead(i2c, got.data(), static_cast<std::uint8_t>(got.size())),
                    &got);
         }},
        {"i2c-raw-write",
         [&] {
             const std::vector<unsigned char> data = bytes(next());
             result(wiringPiI2CRawWrite(i2c, data.data(), static_cast<std::uint8_t>(data.size())));
         }},
        {"dev-read",
         [&] {
             std::vector<unsigned char> got(static_cast<std::size_t>(num()));
             result(static_cast<int>(::read(i2c, got.data(), got.size())), &got);
         }},
        {"dev-write",
         [&] {
             const std::vector<unsigned char> data = bytes(next());
             result(static_cast<int>(::write(i2c, data.data(), data.size())));
         }},
        {"dev-slave", [&] { result(ioctl(i2c, I2C_SLAVE, num())); }},
        {"await",
         [&] {
             if (!await_file(next()))
                 failed = 2;
         }},
        {"wait",
         [&] {
             const int pin = num();
             const int r = waitForInterrupt(pin, num());
             std::printf("wait %d %u\n", r, micros());
         }},
    };
    for (i = 1; i < argc && failed == 0; ++i) {
        const auto call = calls.find(argv[i]);
        if (call == calls.end()) {
            std::fprintf(stderr, "library_probe: unknown call %s\n", argv[i]);
            return 2;
        }
        errno = 0;
        call->second();
    }
    return failed;
}
