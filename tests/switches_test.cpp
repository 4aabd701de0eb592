// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// allumer and eteindre: pin 0 made an output at their level, the level
// outliving the process.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

using harness::Sandbox;

namespace
{

const char *const high_output = "output high";
const char *const low_output = "output low";

void expect_clean(const harness::Outcome &r)
{
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
}

TEST(Switches, SetUpThenModeThenLevelOnPinZero)
{
    for (const auto &[name, level] : {std::pair{"allumer", "1"}, std::pair{"eteindre", "0"}}) {
        SCOPED_TRACE(name);
        Sandbox box;
        expect_clean(box.program(name).run());
        const auto calls = box.calls();
        ASSERT_EQ(harness::events(calls),
                  (std::vector<std::string>{"gpio-setup", "pin-mode", "digital-write"}));
        EXPECT_EQ(calls[1].at("pin"), "0");
        EXPECT_EQ(calls[1].at("mode"), "1");
        EXPECT_EQ(calls[2].at("pin"), "0");
        EXPECT_EQ(calls[2].at("value"), level);
    }
}

TEST(Switches, LevelOutlivesTheProcessAndTheLastRunWins)
{
    Sandbox box;
    expect_clean(box.program("allumer").run());
    EXPECT_EQ(box.pin_state(0), high_output);
    expect_clean(box.program("allumer").run());
    EXPECT_EQ(box.pin_state(0), high_output);
    expect_clean(box.program("eteindre").run());
    EXPECT_EQ(box.pin_state(0), low_output);
    expect_clean(box.program("allumer").run());
    EXPECT_EQ(box.pin_state(0), high_output);
}

TEST(Switches, AnInputPinBecomesAnOutput)
{
    for (const auto &before : {"low", "high"}) {
        Sandbox box;
        box.set_pin_state(0, "input", before);
        expect_clean(box.program("eteindre").run());
        EXPECT_EQ(box.pin_state(0), low_output);
        box.set_pin_state(0, "input", before);
        expect_clean(box.program("allumer").run());
        EXPECT_EQ(box.pin_state(0), high_output);
    }
}

TEST(Switches, ArgumentsChangeNothing)
{
    Sandbox box;
    expect_clean(box.program("allumer").args({"0", "off", "--help"}).run());
    EXPECT_EQ(box.pin_state(0), high_output);
    expect_clean(box.program("eteindre").args({"on", "1"}).run());
    EXPECT_EQ(box.pin_state(0), low_output);
    EXPECT_TRUE(harness::only(box.calls(), "misuse").empty());
}

// As wiringPi 3.14: a failed set-up ends the program with the library's own
// lines, unless WIRINGPI_CODES asks for the failure to be returned, which the
// switches then report themselves.
TEST(Switches, FailedGpioSetupLeavesThePinUntouched)
{
    const std::string library_says =
        "wiringPiSetup: Unable to open /dev/mem or /dev/gpiomem: Permission denied.\n"
        "  Aborting your program because if it can not access the GPIO\n"
        "  hardware then it most certianly won't work\n"
        "  Try running with sudo?\n";
    for (const char *name : {"allumer", "eteindre"}) {
        for (const bool codes : {false, true}) {
            SCOPED_TRACE(std::string(name) + (codes ? " with WIRINGPI_CODES" : ""));
            Sandbox box;
            box.set_pin_state(0, "input", "high");
            auto run = box.program(name).env("WPISIM_FAIL_GPIO_SETUP", "EACCES");
            if (codes)
                run.env("WIRINGPI_CODES", "1");
            const auto r = run.run();
            EXPECT_EQ(r.err,
                      codes ? std::string(name) + ": cannot set up GPIO access: Permission denied\n"
                            : library_says);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(box.pin_state(0), "input high");
            EXPECT_EQ(harness::events(box.calls()),
                      (std::vector<std::string>{"gpio-setup", "failure"}));
        }
    }
}

} // namespace
