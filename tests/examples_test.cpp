// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The example programs through `wpisim run`, each with its scenario file
// (examples/NAME.scenario.toml): its inputs driven and its pins checked at
// their times, its output exact, and the run's end on the virtual clock.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using harness::Sandbox;

namespace
{

struct Example {
    const char *name;
    const char *peer; // WPISIM_PEER, or "" for the default
    const char *out;
    const char *took; // the program's end, as wpisim run's verdict gives it
};

harness::Outcome run_scenario(const Sandbox &box, const Example &e)
{
    std::vector<std::string> args = {
        "run", "--scenario", std::string(EXAMPLES_DIR) + "/" + e.name + ".scenario.toml", "--"};
    for (const std::string &word : box.command(e.name))
        args.push_back(word);
    auto run = box.program("wpisim").args(args);
    if (*e.peer != '\0')
        run.env("WPISIM_PEER", e.peer);
    return run.run();
}

// The pwm scenario's check of GPIO 18's wave also holds its mode: only a pin
// in its PWM function (ALT5) shows the PWM's wave.
TEST(Examples, RunTheirScenariosOnTheVirtualClockWithTheirOutputExact)
{
    const std::vector<Example> examples = {
        {"blink", "",
         "blink 1: on at 0 ms\nblink 2: on at 1000 ms\nblink 3: on at 2000 ms\n"
         "blink 4: on at 3000 ms\nblink 5: on at 4000 ms\ndone at 5000 ms\n",
         "5 s"},
        {"button", "", "press 1 at 100 ms\npress 2 at 300 ms\npress 3 at 1010 ms\n", "1.01002 s"},
        // wiringPiISR returns at 1000 ms; an edge before that is not counted.
        {"interrupt_counter", "", "2000 ms: 2 edges\n3000 ms: 5 edges\n4000 ms: 6 edges\n", "4 s"},
        {"timing", "",
         "delay(250): 250 ms\ndelayMicroseconds(10): 10 us\ndelayMicroseconds(100): 100 us\n"
         "delayMicroseconds(2000): 2000 us\n1000 digitalRead calls: 50 us\nsince set-up: 252 ms\n",
         "252.162 ms"},
        {"pwm", "", "servo: 1.5 ms pulse every 20 ms\nled: 25% for one second\n", "1.00137 s"},
        {"spi_mode3", "loopback", "out: de ad be ef\nin: de ad be ef\n", "64 us"},
    };
    for (const Example &e : examples) {
        SCOPED_TRACE(e.name);
        Sandbox box;
        const auto r = run_scenario(box, e);
        EXPECT_EQ(r.out, e.out);
        // The verdict alone: the program wrote nothing on its standard error.
        const std::string verdict =
            std::string("wpisim: run: passed, in ") + e.took + " of simulated time\n";
        EXPECT_EQ(r.err, verdict);
        EXPECT_TRUE(r.exited && r.status == 0) << "status " << r.status << " signal " << r.signal;
    }
}

} // namespace
