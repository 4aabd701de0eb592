// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wiringPi's pin, PWM and interrupt calls as a Pi program makes them, its
// inputs driven from outside with wpisim pin. Each row is a script and what it
// must print; in virtual time the times are exact, the same on every run.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

struct Row {
    const char *name;
    const char *script;
    const char *out; // standard output, exactly
    const char *err; // standard error, exactly
};

// $PROBE and $WPISIM are the built programs; WPISIM_TIME=virtual throughout.
const Row rows[] = {
    {"APullUpReadsHighUntilAButtonPullsItLow",
     "$WPISIM pin 17 low --at 5\n"
     "$PROBE setup gpio pull 17 2 read 17 delay 10 read 17\n"
     "$WPISIM pin 17 float; $PROBE setup gpio read 17 pull 17 1 read 17",
     "0\n1\n0\n0\n1\n0\n", ""},
    {"EachNumberingNamesItsPin",
     "$WPISIM pin 27 high; $WPISIM pin 17 high\n"
     "$PROBE setup wpi read 2 read 0; $PROBE setup phys read 13 read 11 read 1\n"
     "$PROBE setup sys read 27",
     "0\n1\n1\n0\n1\n1\n0\n0\n1\n",
     "wpisim: digitalRead(1): ignored: no GPIO has that number on a pi4\n"},
    {"AnInterruptFunctionRunsOncePerEdgeOfItsKindAtItsTime",
     "for t in 1200:low 1300:high 1400:low 1450:high; do $WPISIM pin 17 ${t#*:} --at ${t%:*}; "
     "done\n"
     "$PROBE setup gpio pull 17 2 isr 17 1 delay 2000 micros",
     "0\n0\nisr 17 1200000\nisr 17 1400000\n3000000\n", ""},
    {"AWaiterWakesOncePerEdgeAndSaysWhichEdge",
     "$WPISIM pin 22 high --at 1500; $WPISIM pin 22 low --at 1600\n"
     "$PROBE setup gpio isr 22 3 wait 22 -1 wait 22 -1 wait 22 100",
     "0\n0\nisr 22 1500000\nwait 1 1500000\nisr 22 1600000\nwait 2 1600000\nwait 0 1700000\n",
     "wiringPi: ERROR: poll returned=0\n"},
    {"AnOutsideEdgeWakesAProgramBlockedInWait",
     "WPISIM_LOG=log timeout 30 $PROBE setup gpio isr 23 2 wait 23 -1 > out & p=$!\n"
     "eventually grep -q isr-setup log 2>/dev/null\n"
     "$WPISIM pin 23 high; wait $p; cat out",
     "0\n0\nisr 23 1000000\nwait 1 1000000\n", ""},
    {"WaitWithoutAnInterruptAndAPinOutOfRange",
     "$PROBE setup gpio wait 5 10; $PROBE setup gpio isr 64 1; echo $?", "0\nwait -2 0\n0\n1\n",
     "wiringPiISR: pin must be 0-63 (64)\n"},
    {"ASecondSetUpKeepsTheNumberingButGpioAndPhysChooseTheirs",
     "$WPISIM pin 17 high; $PROBE setup gpio setup wpi read 17 read 2; $PROBE setup wpi setup "
     "phys read 11",
     "0\n0\n1\n1\n0\n0\n1\n", ""},
    {"TheGpioCharacterDeviceRequestsALineOnFirstUse",
     "$PROBE setup sys read 17 write 17 1 pull 17 2 read 17\n"
     "$WPISIM pins | grep '^ |  17 |' | cut -d'|' -f5-7",
     "0\n0\n1\n IN   | 1 | up   \n", "digitalWrite: no output (1)\n"},
    {"StoppingAnInterruptByItsWiringPiNumberLeavesItsLineRequested",
     "$WPISIM pin 17 high --at 1500; $PROBE setup wpi isr 0 3 isr-stop 0 wait 0 1000\n"
     "$PROBE setup gpio isr 17 3 isr-stop 17 wait 17 1000",
     "0\n0\n0\nwait 1 1500000\n0\n0\n0\nwait -2 1000000\n", ""},
    {"APriorityBelowOneIsRefusedAsTheKernelRefusesIt", "$PROBE hi-pri 0 hi-pri 55 hi-pri 500",
     "-1 22\n0 0\n0 0\n", ""},
    {"TheByteCallsPutWiringPiPinZeroInTheTopBit",
     "$PROBE setup wpi mode 0 1 mode 7 1 byte-write 129 byte-read", "0\n129\n", ""},
    {"HardwarePwmShowsItsFrequencyAndDuty",
     "$PROBE setup gpio mode 18 2 pwm-mode 0 pwm-range 100 pwm-clock 192 pwm 18 25 alt 18\n"
     "$WPISIM pins | grep '^ |  18 |' | cut -d'|' -f5,9",
     "0\n2\n ALT5 | 1 kHz 25.0%        \n", ""},
    {"ATracedGpioThePiLacksIsRefusedAtSetUp",
     "WPISIM_PI=pi3 WPISIM_TRACE=t.vcd WPISIM_TRACE_PINS=17,55 $PROBE setup gpio", "",
     "wpisim: WPISIM_TRACE_PINS=\"17,55\": GPIO 55: a pi3 has GPIOs 0 to 53\n"},
    {"AProgramsOwnWriteIsAnEdgeAtItsTime",
     "$PROBE setup gpio pull 17 2 isr 17 3 mode 17 1 delay 5 write 17 1 delay 10 mode 17 0 delay 5",
     "0\n0\nisr 17 1000000\nisr 17 1005000\n", ""},
    {"AnyPinModeStopsASoftPwmFirst",
     "$PROBE setup wpi soft-pwm 3 100 100 read 3 mode 3 3 read 3 soft-pwm 3 100 100",
     "0\n0\n1\n0\n0\n", ""},
    {"SoftPwmShowsItsWave",
     "WPISIM_TIME=wall $PROBE setup wpi soft-pwm 3 30 200 await stop >/dev/null & p=$!\n"
     "eventually sh -c \"$WPISIM pins | grep -q '^ |  22 | .*soft'\"\n"
     "$WPISIM pins | grep '^ |  22 |' | cut -d'|' -f5,9; touch stop; wait $p",
     " OUT  | soft 50 Hz 15.0%   \n", ""},
};

void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

class PiCalls : public testing::TestWithParam<Row>
{
};

TEST_P(PiCalls, DoWhatAPiDoes)
{
    const Row &row = GetParam();
    harness::Sandbox box;
    const auto r = box.script(row.script).env("WPISIM_TIME", "virtual").timeout_ms(60000).run();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, row.err);
}

// The bank's lock names its holder: one that died holding it is taken over,
// and one that keeps it is an error within a time limit, never a hang.
TEST(PinBank, ALockItsHolderLeftIsTakenOverAndOneKeptIsAnError)
{
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    const struct {
        pid_t holder;
        int status;
        const char *why;
    } holders[] = {{dead, 0, ""}, {getpid(), 2, " has held it for 5 s\n"}};
    for (const auto &row : holders) {
        SCOPED_TRACE(row.holder == dead ? "dead holder" : "live holder");
        harness::Sandbox box;
        ASSERT_EQ(box.script("$WPISIM pins >/dev/null").run().status, 0);
        {
            // The lock word follows the magic, the version and the size.
            std::fstream bank(box.dir() + "/st/pins",
                              std::ios::in | std::ios::out | std::ios::binary);
            const auto holder = static_cast<std::uint32_t>(row.holder);
            bank.seekp(16);
            bank.write(reinterpret_cast<const char *>(&holder), sizeof holder);
        }
        const auto r = box.script("$WPISIM pin 17 high").run();
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, row.status);
        if (row.status == 0)
            EXPECT_EQ(r.err, "");
        else
            EXPECT_EQ(r.err, "wpisim: pin bank \"" + box.dir() + "/st/pins\": process " +
                                 std::to_string(row.holder) + row.why);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, PiCalls, testing::ValuesIn(rows),
                         [](const testing::TestParamInfo<Row> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
