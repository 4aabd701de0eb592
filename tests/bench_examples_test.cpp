// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Each example on its own bench file, as a user runs it: the file in the
// working directory, each board's sketch flashed; output exact on the
// virtual clock.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using harness::Sandbox;

namespace
{

struct Flash {
    const char *to; // a board of the bench, or "" for the first
    const char *sketch;
};

struct Example {
    const char *name;
    const char *bench; // examples/BENCH.toml
    std::vector<Flash> flashes;
    const char *script; // once the bench is in place and the sketches flashed
    const char *out;
};

TEST(BenchExamples, RunOnTheirBenchFilesWithTheirOutputExact)
{
    const std::vector<Example> examples = {
        {"pin_echo",
         "pin_echo",
         {{"", PIN_ECHO_SKETCH}},
         "$RUN \"$BIN/pin_echo\"",
         "wrote high, read 1\nwrote low, read 0\nwrote high, read 1\nwrote low, read 0\n"
         "wrote high, read 1\nwrote low, read 0\n11 ready pulses, the first at 1000923 us\n"},
        // The sketch tells D2's changes on its serial port; each probe is a
        // program that lets 10 ms pass on the clock.
        {"allumer and eteindre switch a board's input",
         "pin_echo",
         {{"", PIN_ECHO_SKETCH}},
         "$RUN \"$BIN/allumer\" && $PROBE setup wpi delay 10 && $RUN \"$BIN/eteindre\" && "
         "$PROBE setup wpi delay 10 && cat st/serial.log",
         "0\n0\nD2 low at 0\r\nD2 high at 99\r\nD2 low at 109\r\n"},
        {"two_boards",
         "two_boards",
         {{"upper", SPI_UPPER_SKETCH}, {"lower", SPI_LOWER_SKETCH}},
         "$RUN \"$BIN/two_boards\"",
         "CE0: H E L L O ! !\nCE1: h e l l o ! !\n"},
        {"serial_upper",
         "serial_upper",
         {{"", UPPER_SKETCH_HEX}},
         "$RUN \"$BIN/serial_upper\"",
         "reply after 26 ms: > HELLO BOARD\n"},
        {"i2c_registers",
         "i2c_registers",
         {{"", I2C_SKETCH_HEX}},
         "$RUN \"$BIN/i2c_registers\"",
         "id: 0x42 (read in 426 us)\nversion: 3\nword: 0x1234\nregister 2: 0x99\n"
         "reads served: 4\n"},
        // The bench file's bus clock: the same read, four times as fast on the wire.
        {"i2c_registers at 400 kHz",
         "i2c_registers",
         {{"", I2C_SKETCH_HEX}},
         "sed -i 's/i2c_hz = 100000/i2c_hz = 400000/' wpisim.toml && $RUN \"$BIN/i2c_registers\" | "
         "head -1",
         "id: 0x42 (read in 144 us)\n"},
    };
    for (const Example &e : examples) {
        SCOPED_TRACE(e.name);
        Sandbox box;
        std::string script =
            std::string("cp '") + EXAMPLES_DIR + "/" + e.bench + ".toml' wpisim.toml";
        for (const Flash &f : e.flashes)
            script += std::string(" && $WPISIM flash ") + (*f.to != '\0' ? "--to " : "") + f.to +
                      " '" + f.sketch + "' >/dev/null";
        const auto r = box.script(script + " && " + e.script).timeout_ms(60000).run();
        EXPECT_EQ(r.out, e.out);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.exited && r.status == 0) << "status " << r.status << " signal " << r.signal;
    }
}

} // namespace
