// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// avr-gdb on the simulated board, as a user attaches it with wpisim gdb while
// parley talks to the board.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"
#include "simulated_board.hpp"
#include "suite_tool.hpp"

#include <gtest/gtest.h>
#include <string>

namespace
{

// Opens the board's stub on any free port, then runs avr-gdb in batch mode
// with the words wpisim gdb printed and the commands given; parley, typed
// "a" and "c", starts once the breakpoint is set, on the clock given, its
// output in parley.out. Ends with "parley=STATUS gdb=STATUS" on stderr.
harness::Outcome debugged_run(const harness::Sandbox &box, const char *clock,
                              const std::string &commands)
{
    return box
        .script(std::string("export WPISIM_TIME=") + clock +
                "\n"
                "$WPISIM gdb --port 0 > opened || exit 91\n"
                "eval \"set -- $(sed -n 's/^avr-gdb //p' opened)\"\n"
                "printf '" +
                commands +
                "' > cmds\n"
                "timeout 60 \"$AVR_GDB\" -batch \"$@\" -x cmds > gdb.out 2>&1 &\n"
                "gdb=$!\n"
                "for i in $(seq 300); do grep -q '^Breakpoint 1 at' gdb.out && break; "
                "sleep 0.1; done\n"
                "printf 'a\\nc\\n' | timeout 60 $PARLEY > parley.out\n"
                "parley=$?\n"
                "wait $gdb\n"
                "g=$?\n"
                "cat opened parley.out gdb.out\n"
                "echo \"parley=$parley gdb=$g\" >&2\n")
        .env("AVR_GDB", AVR_GDB)
        .timeout_ms(100000)
        .run();
}

} // namespace

TEST(BoardDebugger, ABreakpointInTheSpiHandlerHoldsTheVirtualClockAndParleyEndsAsEver)
{
    REQUIRE_BOARD();
    REQUIRE_TOOL(AVR_GDB);
    harness::Sandbox box;
    // Held past the time a silent board process is given (5 s): parley waits.
    const auto r = debugged_run(box, "virtual",
                                "break board_byte\\ncontinue\\nprint in\\nshell sleep 6\\n"
                                "delete\\ndisconnect\\n");
    EXPECT_NE(r.err.find("parley=0 gdb=0"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Breakpoint 1, board_byte ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("$1 = 97 'a'"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("wpisim: board \"board\" is halted in the debugger"), std::string::npos)
        << r.err;
    // The conversation of a board never stopped: the virtual clock waited.
    EXPECT_EQ(harness::reply_pairs(r.out), (std::vector<std::string>{"w0", "f3", "i3"}));
}

TEST(BoardDebugger, OnTheWallClockAHaltedBoardAnswersAsItsHardwareDoesAndTimeGoesOn)
{
    REQUIRE_BOARD();
    REQUIRE_TOOL(AVR_GDB);
    harness::Sandbox box;
    // Held from attaching until parley has its first answer, then let go.
    const auto r = debugged_run(box, "wall",
                                "break board_byte\\nshell timeout 30 sh -c \"until grep -q dit "
                                "parley.out; do sleep 0.05; done\"\\ndelete\\ndisconnect\\n");
    EXPECT_NE(r.err.find("parley=0 gdb=0"), std::string::npos) << r.err;
    const auto replies = harness::reply_pairs(r.out);
    ASSERT_FALSE(replies.empty()) << r.out;
    // Halted before its select handler could drive MISO, the board leaves it
    // to the Pi's pull-down; once let go, it answers on to the end.
    EXPECT_EQ(replies.front(), std::string(2, '\0'));
    EXPECT_EQ(replies.back().substr(0, 1), "i");
}

// wpisim run --gdb halts the board before the program starts: the run waits
// for avr-gdb, which stops it in its SPI handler and lets it go.
TEST(BoardDebugger, WpisimRunWaitsForAvrGdbAndTheScenarioPasses)
{
    REQUIRE_BOARD();
    REQUIRE_TOOL(AVR_GDB);
    harness::Sandbox box;
    const auto r =
        box.script("printf '[[step]]\\ntype = \"a\\\\nc\\\\n\"\\n[[step]]\\noutput = \"dit :i3\"\\n"
                   "within = \"3s\"\\n' > s.toml\n"
                   "$WPISIM run --gdb 0 --wall-limit 90s --scenario s.toml -- $PARLEY > run.out "
                   "2> run.err &\n"
                   "run=$!\n"
                   "for i in $(seq 300); do grep -q '^avr-gdb ' run.out && break; sleep 0.1; done\n"
                   "eval \"set -- $(sed -n 's/^avr-gdb //p' run.out)\"\n"
                   "timeout 60 \"$AVR_GDB\" -batch \"$@\" -ex 'break board_byte' -ex continue "
                   "-ex 'print in' -ex delete -ex disconnect > gdb.out 2>&1\n"
                   "g=$?\n"
                   "wait $run\n"
                   "echo \"run=$? gdb=$g\" >&2\n"
                   "cat run.out gdb.out; cat run.err >&2\n")
            .env("AVR_GDB", AVR_GDB)
            .timeout_ms(100000)
            .run();
    EXPECT_NE(r.err.find("run=0 gdb=0"), std::string::npos) << r.err << r.out;
    EXPECT_NE(r.out.find("$1 = 97 'a'"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("wpisim: run: passed"), std::string::npos) << r.err;
    EXPECT_EQ(harness::reply_pairs(r.out), (std::vector<std::string>{"w0", "f3", "i3"}));
}
