// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// A Pi program talking to a sketch over the Pi's serial port, on the
// virtual clock: at the sketch's rate the answer is exact, times included;
// at another rate each side's UART makes what it can of the other's bits,
// and that too is the same on every run.

#include "harness/sandbox.hpp"
#include "simulated_board.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

struct Row {
    const char *name;
    const char *sketch;
    const char *baud; // the Pi's
    const char *out;  // exact, or nullptr where the bytes are garbled
};

harness::ProgramRun upper_run(const harness::Sandbox &box, const Row &row)
{
    auto run = box.program("serial_upper").args({row.baud});
    run.env("WPISIM_TIME", "virtual").env("WPISIM_FIRMWARE", row.sketch).timeout_ms(60000);
    return run;
}

TEST(Serial, PiProgramTalksToASketchExactlyAtItsRateAndGarbledAtAnother)
{
    REQUIRE_BOARD();
    const std::vector<Row> rows = {
        // The line's end is in 12.4 ms after it starts out at 9600 baud, and
        // the 14 bytes of the answer come back to back, 10 bits each: 26.98 ms.
        {"the sketch's 9600", UPPER_SKETCH_HEX, "9600", "reply after 26 ms: > HELLO BOARD\n"},
        // The board never makes out the line's end, so never answers.
        {"115200 into the sketch's 9600", UPPER_SKETCH_HEX, "115200",
         "no whole reply after 10000 ms, 0 bytes:\n"},
        {"4800 into the sketch's 9600", UPPER_SKETCH_HEX, "4800",
         "no whole reply after 10000 ms, 0 bytes:\n"},
        // An echo at 115200, read at 9600: bytes come, none of them right.
        {"an echo at 115200 read at 9600", ECHO_SKETCH_HEX, "9600", nullptr},
        {"an echo at its own 115200", ECHO_SKETCH_HEX, "115200", "reply after 1 ms: hello board\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        harness::Sandbox first;
        const auto r = upper_run(first, row).run();
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.exited && r.status == 0) << "status " << r.status;
        if (row.out != nullptr) {
            EXPECT_EQ(r.out, row.out);
            continue;
        }
        EXPECT_EQ(r.out.find("hello board"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(" bytes: "), std::string::npos) << r.out;
        // Garbled, yet the same garble on a fresh bench.
        harness::Sandbox second;
        const auto again = upper_run(second, row).run();
        EXPECT_EQ(again.out, r.out) << again.err;
    }
}

// A terminal on the board's USB port and a Pi program on D0/D1 at once: the
// Pi's TX, wired straight to D0, holds the line against the USB chip's
// resistor, so typing is lost while the Pi has its port open.
TEST(Serial, TheTerminalsTypingIsLostWhileThePiHoldsTheBoardsRx)
{
    REQUIRE_BOARD();
    harness::Sandbox box;
    const auto r = box.script("$WPISIM flash \"$ECHO\" >/dev/null; $WPISIM reset >/dev/null\n"
                              "exec 3<>st/board.tty\n"
                              "printf alone >&3; timeout 1 cat <&3; echo\n"
                              "exec 4<>st/pi.tty\n"
                              "printf held >&3; timeout 1 cat <&3; echo\n"
                              "exec 4>&-\n"
                              "printf again >&3; timeout 1 cat <&3; echo\n")
                       .env("ECHO", ECHO_SKETCH_HEX)
                       .timeout_ms(60000)
                       .run();
    EXPECT_EQ(r.out, "alone\n\nagain\n") << r.err;
}

} // namespace
