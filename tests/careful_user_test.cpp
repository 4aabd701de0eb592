// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The bench as a careful user tries it, in the shell: odd files, runs and
// flashes at once, a long simulated gap, a big paste, relative paths, files
// another user planted. Each row is a script and what it must print; none
// may hang, lose data or take a failure for success.

#include "harness/sandbox.hpp"
#include "simulated_board.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

struct Row {
    const char *name;
    const char *script;
    const char *out; // standard output, exactly
    const char *err; // found in standard error, if not empty
    bool as_root;    // needs root, to make files of another user
};

// Each script runs with: $WPISIM, $PROBE, $PARLEY (the built programs, with
// a cross build's emulator); $UNO and $MK, two builds of an SPI slave sketch;
// $ECHO, a sketch that echoes serial at 115200 baud and answers SPI with
// micros(); the state directory st in the working directory.
const Row rows[] = {
    {"FifoFlashedIsRefusedAtOnce", "mkfifo f.hex; $WPISIM flash f.hex; echo $?", "2\n",
     "\"f.hex\": not a regular file", false},
    {"FifoAsARunsFirmwareIsRefusedAtOnce",
     "mkfifo f.hex; WPISIM_FIRMWARE=f.hex $PROBE spi-setup 0 5000 || echo failed", "failed\n",
     "not a regular file", false},
    {"StatusAndResetAreServedDuringALongCatchUp",
     "export WPISIM_TIME=virtual WPISIM_FIRMWARE=$ECHO\n"
     "$PROBE spi-setup 0 5000 transfer 0 61 delay 4294967295 >/dev/null\n"
     "$PROBE spi-setup 0 5000 transfer 0 61 >/dev/null & w=$!\n"
     "eventually sh -c \"$WPISIM status | grep -q '^uptime: [1-9]'\"\n"
     "$WPISIM status | grep -c '^board process: [0-9]*, on virtual time'\n"
     "$WPISIM reset >/dev/null && echo reset\n"
     "wait $w; echo waited $?",
     "1\nreset\nwaited 0\n", "", false},
    {"ARunThatLeavesEndsItsCatchUp",
     "export WPISIM_TIME=virtual WPISIM_FIRMWARE=$ECHO\n"
     "$PROBE spi-setup 0 5000 transfer 0 61 delay 4294967295 >/dev/null\n"
     "$PROBE spi-setup 0 5000 transfer 0 61 >/dev/null & w=$!\n"
     "eventually sh -c \"$WPISIM status | grep -q '^uptime: [1-9]'\"; kill $w; wait $w\n"
     "$PROBE spi-setup 0 5000 transfer 0 61 delay 1 transfer 0 61 >/dev/null; echo next $?",
     "next 0\n", "", false},
    {"APasteComesBackWholeFromAnEchoSketch",
     "$WPISIM flash $ECHO >/dev/null\n"
     "od -An -tx1 -v -N 10000 /dev/urandom | tr -d ' \\n' >typed\n"
     "$WPISIM serial <typed >got; echo serial $?\n"
     "wc -c <got; cmp typed got && echo same",
     "serial 0\n20000\nsame\n", "", false},
    {"TheSerialPortHasOneProgramAtATime",
     "$WPISIM reset >/dev/null\n"
     "flock -n -o st/board.tty sh -c 'touch held; n=0; until [ -e done ] || [ $n = 1200 ]; "
     "do n=$((n+1)); sleep 0.05; done' & l=$!\n"
     "eventually test -e held\n"
     "$WPISIM serial </dev/null; echo serial $?; touch done; wait $l",
     "serial 2\n", "in use by another program", false},
    {"AKilledBoardLeavesNoTerminalLink",
     "$WPISIM reset >/dev/null\n"
     "kill -9 $($WPISIM status | sed -n 's/^board process: \\([0-9]*\\),.*/\\1/p')\n"
     "eventually sh -c \"$WPISIM status | grep -q '^board process: off'\"\n"
     "$WPISIM status | grep '^board process'\n"
     "if [ -L st/board.tty ]; then echo link left; else echo no link; fi",
     "board process: off (the next run starts it, from reset)\nno link\n", "", false},
    {"AFlashLinkOutsideTheStateDirectoryIsRefused",
     "mkdir -m 700 st; ln -s /tmp st/flash\n"
     "$WPISIM status >/dev/null || echo status failed\n"
     "$PROBE spi-setup 0 5000 >/dev/null || echo run failed",
     "status failed\nrun failed\n", "\"/tmp\", not to a flash of the state directory", false},
    {"AFlashLinkOfAnotherUserIsRefused",
     "$WPISIM flash $UNO >/dev/null; chown -h nobody st/flash\n"
     "$PROBE spi-setup 0 5000 >/dev/null || echo run failed",
     "run failed\n", "owned by uid", true},
    {"AFlashFolderOfAnotherUserIsRefused",
     "$WPISIM flash $UNO >/dev/null; chown nobody st/flash.??????\n"
     "$WPISIM status >/dev/null || echo status failed",
     "status failed\n", "owned by uid", true},
    {"ANewlineInAFlashedNameStaysInTheName",
     "cp $UNO 'x.hex\nboard mega'\n"
     "$WPISIM flash 'x.hex\nboard mega' >/dev/null\n"
     "$WPISIM status | grep -E '^(board|flash):' | cut -d, -f1",
     "board: uno (ATmega328P at 16 MHz)\nflash: \"x.hex\\x0aboard mega\"\n", "", false},
    {"RunsAndFlashesAtOnceAllSucceedAndLeaveOneFlash",
     "$WPISIM flash $UNO >/dev/null\n"
     "(for i in 1 2 3 4; do $WPISIM flash $UNO >/dev/null && $WPISIM flash $MK >/dev/null ||"
     " echo flash failed; done) & f=$!\n"
     "for i in 1 2 3 4 5 6; do $PROBE spi-setup 0 5000 transfer 0 61 >/dev/null ||"
     " echo run failed; done\n"
     "wait $f\n"
     "$WPISIM flash $UNO >/dev/null & $WPISIM flash $MK >/dev/null & wait\n"
     "ls -d st/flash.?????? | wc -l",
     "1\n", "", false},
    {"AFlashBesideAVirtualTimeRunResetsTheBoard",
     "$WPISIM flash $UNO >/dev/null\n"
     "mkfifo typed; WPISIM_TIME=virtual $PARLEY <typed >said 2>&1 & p=$!; exec 3>typed\n"
     "eventually test -s said\n"
     "$WPISIM flash $MK >flashed; echo flash $?; tail -n 1 flashed\n"
     "$WPISIM status | grep -c '^flash: .*spi_slave.hex'; kill $p",
     "flash 0\nboard reset\n1\n", "", false},
    {"RelativeStateDirectoryAndLogWorkFromTheRunsDirectory",
     "unset WPISIM_STATE_DIR\n"
     "WPISIM_STATE_DIR=rel WPISIM_LOG=rel.log $PROBE spi-setup 0 5000 transfer 0 61 "
     ">/dev/null; echo run $?\n"
     "grep -c '^board-start ' rel.log",
     "run 0\n1\n", "", false},
    {"EachRunsLogHasTheBoardsLinesOfItsOwnRequests",
     "WPISIM_LOG=$PWD/a.log $PROBE spi-setup 0 5000 >/dev/null\n"
     "WPISIM_LOG=$PWD/b.log WPISIM_BOARD_RESET=1 $PROBE spi-setup 0 5000 >/dev/null\n"
     "for f in a b; do echo $f $(grep -c '^board-start ' $f.log) $(grep -c '^board-reset ' "
     "$f.log); done",
     "a 1 0\nb 0 1\n", "", false},
    {"VirtualTimeGivesAMicrosSketchTheSameAnswersOnEveryRun",
     "for i in 1 2 3 4 5; do rm -rf st\n"
     "  WPISIM_TIME=virtual WPISIM_FIRMWARE=$ECHO $PROBE spi-setup 0 5000 transfer 0 61 "
     "delay 7 transfer 0 61 | tr '\\n' ' '; echo\n"
     "done | sort -u | wc -l",
     "1\n", "", false},
    {"WhatTheBenchMakesIsPrivate",
     "$WPISIM flash $UNO >/dev/null\n"
     "WPISIM_TIME=virtual $PROBE gpio-setup mode 0 1 write 0 1 spi-setup 0 5000 >/dev/null\n"
     "cd st; stat -c '%a %n' . serial.log flash.*/image flash.*/info pins clock "
     "| sed 's/flash\\......./flash/'",
     "700 .\n600 serial.log\n600 flash/image\n600 flash/info\n600 pins\n600 clock\n", "", false},
};

// Rows are named in test names, not dumped as bytes.
void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

class CarefulUser : public testing::TestWithParam<Row>
{
};

TEST_P(CarefulUser, GetsTheSoundBehaviour)
{
    REQUIRE_BOARD();
    const Row &row = GetParam();
    if (row.as_root && geteuid() != 0)
        GTEST_SKIP() << "makes files of another user, which needs root";
    harness::Sandbox box;
    const auto r = box.script(row.script)
                       .env("UNO", USER_SKETCH_UNO_HEX)
                       .env("MK", USER_SKETCH_MK_HEX)
                       .env("ECHO", ECHO_SKETCH_HEX)
                       .timeout_ms(90000)
                       .run();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, row.out) << r.err;
    EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, CarefulUser, testing::ValuesIn(rows),
                         [](const testing::TestParamInfo<Row> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
