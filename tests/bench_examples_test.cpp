// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Each example on its own bench file, as a user runs it: the file in the
// working directory as wpisim.toml, then `wpisim run` with the example's
// scenario (examples/NAME.scenario.toml) and the board's sketch; output
// exact on the virtual clock, the run's end included.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using harness::Sandbox;

namespace
{

// The example through its scenario, on the bench in the working directory.
std::string scenario_run(const std::string &name, const std::string &options)
{
    return "$WPISIM run " + options + " --scenario '" + EXAMPLES_DIR + "/" + name +
           ".scenario.toml' -- $RUN \"$BIN/" + name + "\"";
}

std::string firmware(const std::string &sketch)
{
    return "--firmware '" + sketch + "'";
}

// --firmware names the first board's sketch only: the bench file names the others'.
std::string bench_firmware(const std::string &board, const std::string &sketch)
{
    return "sed -i '/^name = \"" + board + "\"/a firmware = \"" + sketch + "\"' wpisim.toml";
}

std::string passed_in(const std::string &time)
{
    return "wpisim: run: passed, in " + time + " of simulated time\n";
}

struct Example {
    const char *name;
    const char *bench;  // examples/BENCH.toml
    std::string script; // once the bench file is in place
    const char *out;
    std::string err;
};

TEST(BenchExamples, RunOnTheirBenchFilesWithTheirOutputExact)
{
    const char *const i2c_out =
        "id: 0x42 (read in 426 us)\nversion: 3\nword: 0x1234\nregister 2: 0x99\nreads served: 4\n";
    const std::vector<Example> examples = {
        {"pin_echo", "pin_echo", scenario_run("pin_echo", firmware(PIN_ECHO_SKETCH)),
         "wrote high, read 1\nwrote low, read 0\nwrote high, read 1\nwrote low, read 0\n"
         "wrote high, read 1\nwrote low, read 0\n11 ready pulses, the first at 1000923 us\n",
         passed_in("1.206 s")},
        // Programs one after another on the same board, flashed: the sketch
        // tells D2's changes on its serial port; each probe is a program that
        // lets 10 ms pass on the clock.
        {"allumer and eteindre switch a board's input", "pin_echo",
         std::string("$WPISIM flash '") + PIN_ECHO_SKETCH +
             "' >/dev/null && $RUN \"$BIN/allumer\" && $PROBE setup wpi delay 10 && "
             "$RUN \"$BIN/eteindre\" && $PROBE setup wpi delay 10 && cat st/serial.log",
         "0\n0\nD2 low at 0\r\nD2 high at 99\r\nD2 low at 109\r\n", ""},
        {"two_boards", "two_boards",
         bench_firmware("upper", SPI_UPPER_SKETCH) + " && " +
             bench_firmware("lower", SPI_LOWER_SKETCH) + " && " + scenario_run("two_boards", ""),
         "CE0: H E L L O ! !\nCE1: h e l l o ! !\n", passed_in("2.56 ms")},
        {"serial_upper", "serial_upper", scenario_run("serial_upper", firmware(UPPER_SKETCH_HEX)),
         "reply after 26 ms: > HELLO BOARD\n", passed_in("36.9837 ms")},
        {"i2c_registers", "i2c_registers", scenario_run("i2c_registers", firmware(I2C_SKETCH_HEX)),
         i2c_out, passed_in("2.544 ms")},
        // The bench file's bus clock: the same read, four times as fast on the wire.
        {"i2c_registers at 400 kHz", "i2c_registers",
         "sed -i 's/i2c_hz = 100000/i2c_hz = 400000/' wpisim.toml && $WPISIM run " +
             firmware(I2C_SKETCH_HEX) + " --expect 'read in 144 us' -- $RUN \"$BIN/i2c_registers\"",
         "id: 0x42 (read in 144 us)\nversion: 3\nword: 0x1234\nregister 2: 0x99\n"
         "reads served: 4\n",
         passed_in("844.875 us")},
    };
    for (const Example &e : examples) {
        SCOPED_TRACE(e.name);
        Sandbox box;
        const auto r = box.script(std::string("cp '") + EXAMPLES_DIR + "/" + e.bench +
                                  ".toml' wpisim.toml && " + e.script)
                           .timeout_ms(60000)
                           .run();
        EXPECT_EQ(r.out, e.out);
        EXPECT_EQ(r.err, e.err);
        EXPECT_TRUE(r.exited && r.status == 0) << "status " << r.status << " signal " << r.signal;
    }
}

} // namespace
