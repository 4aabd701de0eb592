// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The Pi models' header, pulls and hardware PWM, as wiringPi 3.14 and the
// chips make them.

#include "pi_model.hpp"
#include "pi_pins.hpp"
#include "pi_pwm.hpp"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace pi = wpisim::pi;

namespace
{

const pi::Model &named(const char *word)
{
    const pi::Model *m = pi::find_model(word);
    if (m == nullptr)
        throw std::invalid_argument(word);
    return *m;
}

TEST(PiModel, EachHeaderGpioHasItsPinsAndPowerOnPull)
{
    struct Case {
        const char *pi;
        int bcm;
        int phys;
        int wpi;
        pi::Pull pull;
        bool board_pull_up;
    };
    using P = pi::Pull;
    const Case cases[] = {
        {"pi1-rev1", 0, 3, 8, P::up, true},
        {"pi1-rev1", 21, 13, 2, P::down, false},
        {"pi1-rev1", 27, -1, -1, P::none, false},
        {"pi1-rev1", 26, -1, -1, P::none, false},
        {"pi4", 2, 3, 8, P::up, true},
        {"pi4", 27, 13, 2, P::down, false},
        {"pi4", 9, 21, 13, P::down, false},
        {"pi4", 26, 37, 25, P::down, false},
        {"pi4", 28, -1, 17, P::none, false},
        {"pi5", 8, 24, 10, P::up, false},
        {"pi1", 21, 40, 29, P::down, false},
    };
    for (const Case &c : cases) {
        const pi::Model &m = named(c.pi);
        const std::string what = std::string(c.pi) + " GPIO " + std::to_string(c.bcm);
        EXPECT_EQ(pi::bcm_to_phys(m, c.bcm), c.phys) << what;
        EXPECT_EQ(pi::bcm_to_wpi(m.layout, c.bcm), c.wpi) << what;
        EXPECT_EQ(pi::power_on_pull(m, c.bcm), c.pull) << what;
        EXPECT_EQ(pi::board_pull_up(m, c.bcm), c.board_pull_up) << what;
    }
    EXPECT_EQ(pi::header(named("pi1-rev1")).size(), 26U);
    const auto &forty = pi::header(named("zero"));
    ASSERT_EQ(forty.size(), 40U);
    EXPECT_STREQ(forty.at(10).name, "GPIO. 0");
    EXPECT_EQ(forty.at(10).bcm, 17);
    EXPECT_STREQ(forty.at(38).name, "0v");
    EXPECT_EQ(forty.at(38).bcm, pi::no_gpio);
}

TEST(PiModel, PwmPinsAndFrequencyAsPwmSetClockRangeAndModeMakeThem)
{
    struct Case {
        const char *pi;
        int divisor;
        int previous; // the divider before pwmSetClock
        unsigned range;
        int mode; // 0 mark:space, 1 balanced
        int value;
        double hz;
    };
    const Case cases[] = {
        {"pi3", 32, 0, 1024, 0, 10, 19.2e6 / 32 / 1024},
        {"pi3", 0, 7, 1024, 0, 10, 19.2e6 / 1 / 1024},
        {"pi3", 5000, 7, 100, 0, 10, 19.2e6 / 4095 / 100},
        {"pi3", 32, 0, 1024, 1, 256, 600e3 * 256 / 1024},
        {"pi3", 32, 0, 1024, 1, 768, 600e3 * 256 / 1024},
        {"pi3", 32, 0, 1024, 1, 1024, 0},
        // A Pi 4 scales to its 54 MHz source, past 12 bits from 1457.
        {"pi4", 32, 0, 1024, 0, 10, 54e6 / 90 / 1024},
        {"pi4", 1456, 0, 1024, 0, 10, 54e6 / 4095 / 1024},
        {"pi4", 2000, 90, 1024, 0, 10, 54e6 / 90 / 1024},
        {"pi4", 4095, 90, 1024, 0, 10, 54e6 / (11517 - 8192) / 1024},
        {"pi4", 2913, 90, 1024, 0, 10, 0},
        // A Pi 5 scales to 50 MHz, stops below 1 and has no balanced mode.
        {"pi5", 32, 0, 1024, 1, 10, 50e6 / 83 / 1024},
        {"pi5", 0, 83, 1024, 0, 10, 0},
    };
    for (const Case &c : cases) {
        const pi::Model &m = named(c.pi);
        const int divider = pi::pwm_clock_divider(m, c.divisor, c.previous);
        EXPECT_DOUBLE_EQ(pi::pwm_frequency_hz(m, divider, c.range, c.mode, c.value), c.hz)
            << c.pi << " divisor " << c.divisor << " mode " << c.mode;
    }

    struct PinCase {
        const char *pi;
        int bcm;
        int channel; // -1: no PWM
        int alt;
        int write_target;
    };
    const PinCase pins[] = {
        {"pi1-rev1", 18, 0, 2, 0}, {"pi4", 13, 1, 4, 1},
        {"pi4", 19, 1, 2, 1},      {"pi5", 19, 3, 7, 3},
        {"pi5", 12, 0, 4, 0},      {"pi4", 17, -1, 0, pi::pwm_control_register},
        {"pi5", 17, -1, 0, 0},     {"pi5", 40, -1, 0, pi::pwm_no_channel},
    };
    for (const PinCase &c : pins) {
        const pi::Model &m = named(c.pi);
        const auto pin = pi::pwm_pin(m, c.bcm);
        const std::string what = std::string(c.pi) + " GPIO " + std::to_string(c.bcm);
        EXPECT_EQ(pin ? pin->channel : -1, c.channel) << what;
        EXPECT_EQ(pin ? pin->alt : 0, c.alt) << what;
        EXPECT_EQ(pi::pwm_write_target(m, c.bcm), c.write_target) << what;
    }
}

} // namespace
