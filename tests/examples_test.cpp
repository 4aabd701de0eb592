// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The example programs on the bench's virtual clock: their inputs scheduled
// before the run, their output exact, times included.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using harness::Sandbox;

namespace
{

// A cell of `wpisim pins`' row for this BCM pin, by column name.
std::string pins_cell(const std::string &table, int bcm, const std::string &column)
{
    auto cells = [](const std::string &line) {
        std::vector<std::string> out;
        std::istringstream in(line);
        std::string cell;
        while (std::getline(in, cell, '|')) {
            const auto first = cell.find_first_not_of(' ');
            const auto last = cell.find_last_not_of(' ');
            out.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
        }
        return out;
    };
    std::istringstream in(table);
    std::string line;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        const auto row = cells(line);
        if (row.size() < 3)
            continue;
        if (row[1] == "BCM")
            header = row;
        else if (!header.empty() && row[1] == std::to_string(bcm))
            for (std::size_t i = 0; i < header.size() && i < row.size(); ++i)
                if (header[i] == column)
                    return row[i];
    }
    return "no cell " + column + " for BCM " + std::to_string(bcm);
}

struct Example {
    const char *name;
    const char *peer;                             // WPISIM_PEER, or "" for the default
    std::vector<std::vector<std::string>> drives; // wpisim pin GPIO LEVEL --at MS
    const char *out;
    int pwm_pin; // a pin whose PWM `wpisim pins` must show afterwards, or -1
    const char *pwm;
};

TEST(Examples, RunOnTheVirtualClockWithTheirOutputExact)
{
    const std::vector<Example> examples = {
        {"blink",
         "",
         {},
         "blink 1: on at 0 ms\nblink 2: on at 1000 ms\nblink 3: on at 2000 ms\n"
         "blink 4: on at 3000 ms\nblink 5: on at 4000 ms\ndone at 5000 ms\n",
         -1,
         ""},
        // Pressed at 100 ms and 300 ms (a 20 ms press), released in between;
        // the 1005 ms press is seen at the next poll.
        {"button",
         "",
         {{"27", "low", "100"},
          {"27", "float", "150"},
          {"27", "low", "300"},
          {"27", "float", "320"},
          {"27", "low", "1005"},
          {"27", "float", "1100"}},
         "press 1 at 100 ms\npress 2 at 300 ms\npress 3 at 1010 ms\n",
         -1,
         ""},
        // wiringPiISR returns at 1000 ms; an edge before that is not counted.
        {"interrupt_counter",
         "",
         {{"22", "low", "500"},
          {"22", "float", "600"},
          {"22", "low", "1200"},
          {"22", "float", "1250"},
          {"22", "low", "1500"},
          {"22", "float", "1550"},
          {"22", "low", "2100"},
          {"22", "float", "2150"},
          {"22", "low", "2200"},
          {"22", "float", "2250"},
          {"22", "low", "2300"},
          {"22", "float", "2350"},
          {"22", "low", "3900"}},
         "2000 ms: 2 edges\n3000 ms: 5 edges\n4000 ms: 6 edges\n",
         -1,
         ""},
        {"timing",
         "",
         {},
         "delay(250): 250 ms\ndelayMicroseconds(10): 10 us\ndelayMicroseconds(100): 100 us\n"
         "delayMicroseconds(2000): 2000 us\n1000 digitalRead calls: 50 us\nsince set-up: 252 ms\n",
         -1,
         ""},
        {"pwm",
         "",
         {},
         "servo: 1.5 ms pulse every 20 ms\nled: 25% for one second\n",
         18,
         "50 Hz 7.5%"},
        {"spi_mode3", "loopback", {}, "out: de ad be ef\nin: de ad be ef\n", -1, ""},
    };
    for (const Example &e : examples) {
        SCOPED_TRACE(e.name);
        Sandbox box;
        for (const auto &d : e.drives) {
            const auto r = box.program("wpisim").args({"pin", d[0], d[1], "--at", d[2]}).run();
            ASSERT_EQ(r.status, 0) << r.err;
        }
        auto run = box.program(e.name).env("WPISIM_TIME", "virtual").timeout_ms(30000);
        if (*e.peer != '\0')
            run.env("WPISIM_PEER", e.peer);
        const auto r = run.run();
        EXPECT_EQ(r.out, e.out);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.exited && r.status == 0) << "status " << r.status << " signal " << r.signal;
        if (e.pwm_pin >= 0) {
            const auto pins = box.program("wpisim").args({"pins"}).run();
            EXPECT_EQ(pins_cell(pins.out, e.pwm_pin, "PWM"), e.pwm) << pins.out;
            EXPECT_EQ(pins_cell(pins.out, e.pwm_pin, "Mode"), "ALT5") << pins.out;
        }
    }
}

} // namespace
