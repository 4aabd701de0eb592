// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The bench on the host's own clock, where real time is the point: what the
// demo does, and parley's pauses really taking their time over a long run.
// Run alone (CTest label realtime), and only lower bounds on time: a loaded
// host is slower, never faster.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"
#include "simulated_board.hpp"

#include <csignal>
#include <gtest/gtest.h>

using harness::ms;
using harness::Sandbox;

namespace
{

TEST(RealTime, TheDemosRunFadesBothOutputsOnAgainstTheBoard)
{
    REQUIRE_BOARD();
    Sandbox box;
    const auto r = box.program("parley").input("a\nc\n").run();
    const auto pairs = harness::reply_pairs(r.out);
    ASSERT_FALSE(pairs.empty()) << r.err;
    // A late exchange on a loaded host rightly restarts the conversation, so
    // only its two ends are sure.
    EXPECT_EQ(pairs.front(), "w0");
    EXPECT_EQ(pairs.back(), "i3");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    const auto board = harness::only(box.calls(), "board");
    ASSERT_FALSE(board.empty());
    EXPECT_EQ(board.back().at("d5"), "255");
    EXPECT_EQ(board.back().at("d6"), "255");
    // The stop line is written after the last settle pause, and parley waits
    // 500 ms more before it exits.
    const auto delays = harness::only(box.calls(), "delay");
    ASSERT_GE(delays.size(), 2U);
    EXPECT_GE(r.end_ns - delays[delays.size() - 2].num("end_ns"), 500 * ms);
}

TEST(RealTime, ALongRunKeepsParleysPausesAndPaceAndTheBoardHearsEveryExchange)
{
    REQUIRE_BOARD();
    // MISO unconnected: the replies are zeros whatever the pace, and the run
    // never ends by itself; Ctrl-C after ten cycles, some five seconds.
    constexpr std::size_t cycles = 10;
    Sandbox box;
    const auto r = box.program("parley")
                       .input("a\nc\n")
                       .env("WPISIM_WIRING", "no-miso")
                       .env("WPISIM_INTERRUPT_AT", std::to_string(cycles + 1))
                       .run();
    EXPECT_EQ(r.signal, SIGINT) << r.err;
    EXPECT_EQ(harness::reply_pairs(r.out), std::vector<std::string>(cycles, std::string(2, '\0')));
    const auto transfers = harness::only(box.calls(), "spi-transfer");
    const auto delays = harness::only(box.calls(), "delay");
    ASSERT_EQ(transfers.size(), cycles);
    ASSERT_EQ(delays.size(), 2 * cycles);
    for (std::size_t i = 0; i < delays.size(); ++i)
        EXPECT_GE(delays[i].num("end_ns") - delays[i].num("start_ns"), delays[i].num("ms") * ms)
            << "delay " << i + 1;
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        // The settle pause comes after the transfer; a cycle lasts 513 ms.
        EXPECT_GE(delays[2 * i].num("start_ns"), transfers[i].num("end_ns")) << "cycle " << i + 1;
        if (i > 0) {
            EXPECT_GE(transfers[i].num("start_ns") - transfers[i - 1].num("start_ns"), 513 * ms)
                << "cycle " << i;
        }
    }
    const auto board = harness::only(box.calls(), "wiring");
    ASSERT_EQ(board.size(), cycles);
    EXPECT_EQ(board.back().at("d5"), "255");
    EXPECT_EQ(board.back().at("d6"), "255");
}

} // namespace
