// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The firmware's clock limit as a bound: every phase of an exchange against
// the firmware's tick, one AVR cycle apart, answers right at the limit.

#include "harness/program_run.hpp"
#include "harness/sandbox.hpp"
#include "simulated_board.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace
{

// The limit the firmware's README states, and the next clock probed above it.
constexpr long stated_limit_hz = 36000;
constexpr long next_clock_hz = 37000;

struct Sweep {
    long exchanges = -1;
    long wrong = -1;
    std::string first_wrong; // offset from the tick, reply, vector
};

Sweep sweep(long hz)
{
    harness::Sandbox box;
    std::vector<std::string> words = box.command("wpisim-board");
    words.insert(words.end(), {"--clock-limit", built_firmware_elf, std::to_string(hz)});
    const auto r = harness::ProgramRun(words).timeout_ms(120000).run();
    EXPECT_EQ(r.status, 0) << r.err;
    Sweep s;
    std::istringstream line(r.out);
    long clock = 0;
    line >> clock >> s.exchanges >> s.wrong;
    std::getline(line, s.first_wrong);
    EXPECT_EQ(clock, hz) << r.out;
    return s;
}

TEST(ClockLimit, EveryPhaseAnswersRightAtTheStatedLimitAndSomePhaseFailsAboveIt)
{
    REQUIRE_BOARD();
    const Sweep at = sweep(stated_limit_hz);
    // A sweep of a whole exchange and more, cycle by cycle.
    EXPECT_GT(at.exchanges, 16 * 16000000L / stated_limit_hz);
    EXPECT_EQ(at.wrong, 0) << "first wrong at" << at.first_wrong;
    const Sweep above = sweep(next_clock_hz);
    EXPECT_GT(above.wrong, 0);
    std::cout << "first clock with a wrong phase: " << next_clock_hz << " Hz, " << above.wrong
              << " of " << above.exchanges << " phases; first at" << above.first_wrong << "\n";
    RecordProperty("first_failing_sclk_hz", std::to_string(next_clock_hz));
}

} // namespace
