// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The Pi's GPIO wired to a board running a sketch (examples/sketches/pin_echo:
// D3 follows D2, D4 pulses every 20 ms), on the virtual clock: levels both
// ways at their times, pulls on a wire nobody drives, and the faults a wire
// can have, each told once.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using harness::Sandbox;

namespace
{

std::string bench(const char *kind, const char *wires)
{
    return std::string("[[board]]\nname = \"uno\"\nkind = \"") + kind + "\"\nfirmware = \"" +
           PIN_ECHO_SKETCH + "\"\nspi = \"ce0\"\n" + wires;
}

const char *const both_ways = "[[wire]]\npi = 17\npin = \"D2\"\n"
                              "[[wire]]\npi = 27\npin = \"D3\"\ndivider = true\n";

struct Row {
    const char *name;
    const char *kind;
    const char *wires;
    std::vector<std::string> probe; // library_probe's verbs
    const char *out;
    const char *err;
};

TEST(Wires, LevelsCrossBothWaysAndFaultsAreToldOnce)
{
    const std::string short_27 =
        "wpisim: short on GPIO 27: the Pi drives it low and uno D3 drives it high\n";
    const std::string five_volts =
        "wpisim: uno D3 drives GPIO 27 high at 5 V, and no Pi pin tolerates more than 3.3 V: "
        "put a divider on the wire (see docs/raspberry-pi.md) and say divider = true\n";
    const std::vector<std::string> high_then_low = {
        "setup", "gpio", "mode",  "17", "1", "write", "17", "1",    "delay", "1",
        "read",  "27",   "write", "17", "0", "delay", "1",  "read", "27"};
    const std::vector<Row> rows = {
        {"a write reaches the board, its answer the Pi", "uno", both_ways, high_then_low,
         "0\n1\n0\n", ""},
        // The Pi's pull on an input is all that holds D2.
        {"pulls settle a wire nobody drives",
         "uno",
         both_ways,
         {"setup", "gpio", "pull", "17", "2", "delay", "1", "read", "27", "pull", "17", "1",
          "delay", "1", "read", "27"},
         "0\n1\n0\n",
         ""},
        // Twice at odds, told once.
        {"two outputs at odds are a short",
         "uno",
         both_ways,
         {"setup", "gpio",  "mode",  "17",    "1",  "write", "17",    "1",     "mode",
          "27",    "1",     "write", "27",    "0",  "delay", "1",     "write", "17",
          "0",     "delay", "1",     "write", "17", "1",     "delay", "1"},
         "0\n",
         short_27.c_str()},
        {"a 5 V output on a Pi pin without a divider", "uno",
         "[[wire]]\npi = 17\npin = \"D2\"\n[[wire]]\npi = 27\npin = \"D3\"\n", high_then_low,
         "0\n1\n0\n", five_volts.c_str()},
        {"a 3.3 V board needs none", "pro-mini-8mhz",
         "[[wire]]\npi = 17\npin = \"D2\"\n[[wire]]\npi = 27\npin = \"D3\"\n", high_then_low,
         "0\n1\n0\n", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Sandbox box;
        const std::string file = box.dir() + "/wpisim.toml";
        std::ofstream(file) << bench(row.kind, row.wires);
        const auto r = box.program("library_probe")
                           .args(row.probe)
                           .env("WPISIM_BENCH", file)
                           .env("WPISIM_TIME", "virtual")
                           .timeout_ms(60000)
                           .run();
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err, row.err);
        EXPECT_TRUE(r.exited && r.status == 0) << "status " << r.status << " signal " << r.signal;
    }
}

} // namespace
