// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// parley talking to the reference firmware running in the AVR simulator.

#include "harness/parley_text.hpp"
#include "harness/probe_text.hpp"
#include "harness/sandbox.hpp"
#include "simulated_board.hpp"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using harness::probe_replies;
using harness::Sandbox;

namespace
{

// D5 and D6 as the firmware left them after the last exchange.
std::pair<std::string, std::string> outputs(const Sandbox &box)
{
    const auto board = harness::only(box.calls(), "board");
    if (board.empty())
        return {"?", "?"};
    return {board.back().at("d5"), board.back().at("d6")};
}

// A copy of the firmware with one interrupt vector (4 bytes of flash at
// vector * 4) replaced by the given instruction words.
std::string patched_firmware(const Sandbox &box, int vector, const std::string &code)
{
    std::ifstream in(built_firmware_elf, std::ios::binary);
    std::string elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(elf.at(at + static_cast<std::size_t>(i)));
        return static_cast<std::size_t>(v);
    };
    auto u16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(elf.at(at)) |
                                        static_cast<unsigned char>(elf.at(at + 1)) << 8);
    };
    // The loadable segment at flash address 0 holds the vector table.
    for (std::size_t i = 0, ph = u32(28); i < u16(44); ++i, ph += u16(42))
        if (u32(ph) == 1 && u32(ph + 12) == 0)
            elf.replace(u32(ph + 4) + 4 * static_cast<std::size_t>(vector), code.size(), code);
    std::string path = box.dir() + "/patched.elf";
    std::ofstream(path, std::ios::binary) << elf;
    return path;
}

TEST(BoardConversation, AnExchangeOutOfParleysPaceStartsANewConversation)
{
    REQUIRE_BOARD();
    // Two exchanges of "ac" at parley's pace leave the fade going on (w0, f3);
    // a parley run with "bd" follows, its first exchange gap_ms after the
    // second ended. The board counts ~10 ms ticks from that end, so where the
    // window opens and closes in ms depends on the tick's phase then: these
    // edges hold for this history, which virtual time makes the same every run.
    struct Case {
        const char *catches;
        bool cut; // parley cut by Ctrl-C as its third exchange was due, else a probe
        int gap_ms;
        std::vector<std::string> rerun;
    };
    const std::vector<std::string> afresh{"w3", "f0", "i0"};
    const std::vector<std::string> going_on{"i3"};
    for (const Case &c : {
             Case{"the window opening a tick early", false, 472, afresh},
             Case{"the window opening a tick late", false, 473, going_on},
             Case{"a window narrower than README's 480 ms, just under it", false, 479, going_on},
             Case{"a window narrower than README's 480 ms", false, 480, going_on},
             // What README says remains: no board can tell this rerun apart.
             Case{"a rerun at once after Ctrl-C taken for a new run", true, 510, going_on},
             Case{"a window narrower than README's 600 ms", true, 600, going_on},
             Case{"the window closing a tick early, just over README's 600 ms", true, 601,
                  going_on},
             Case{"the window closing a tick late", true, 602, afresh},
             Case{"a rerun after Ctrl-C stopping on the old run's state", true, 1310, afresh},
         }) {
        SCOPED_TRACE(std::to_string(c.gap_ms) + " ms: " + c.catches);
        Sandbox box;
        std::vector<std::string> before;
        if (c.cut) {
            const auto cut =
                virtual_run(box, "parley").input("ac").env("WPISIM_INTERRUPT_AT", "3").run();
            EXPECT_EQ(cut.signal, SIGINT);
            before = harness::reply_pairs(cut.out);
            // parley's 10 ms and 500 ms pauses already passed before the cut.
            virtual_run(box, "library_probe").args({"delay", std::to_string(c.gap_ms - 510)}).run();
        } else {
            before = probe_replies(
                virtual_run(box, "library_probe")
                    .args({"spi-setup", "0", "5000", "transfer", "0", "6163", "delay", "510",
                           "transfer", "0", "6163", "delay", std::to_string(c.gap_ms)})
                    .run());
        }
        ASSERT_EQ(before, (std::vector<std::string>{"w0", "f3"}));
        const auto rerun = virtual_run(box, "parley").input("bd").run();
        const auto transfers = harness::only(box.calls(), "spi-transfer");
        ASSERT_GE(transfers.size(), 3U);
        EXPECT_EQ(transfers[2].num("start_ns") - transfers[1].num("end_ns"),
                  c.gap_ms * harness::ms);
        EXPECT_EQ(harness::reply_pairs(rerun.out), c.rerun);
        EXPECT_EQ(rerun.status, 0);
    }
}

TEST(BoardConversation, ClocksTooFastForTheFirmwareShowAsTheHardwareWouldShowThem)
{
    REQUIRE_BOARD();
    struct Case {
        const char *speed;
        std::string first_reply;
        bool collided;
    };
    // Up to about 140 kHz the interrupts keep up. At 1 MHz MISO is not yet
    // driven at the first edge, and the summary is written during the second
    // byte: lost, so the received byte goes back.
    for (const Case &c : {Case{"5000", "w0", false}, Case{"100000", "w0", false},
                          Case{"1000000", std::string("\0a", 2), true}}) {
        SCOPED_TRACE(c.speed);
        Sandbox box;
        const auto r = virtual_run(box, "library_probe")
                           .args({"spi-setup", "0", c.speed, "transfer", "0", "6163"})
                           .run();
        ASSERT_EQ(probe_replies(r).size(), 1U) << r.out << r.err;
        EXPECT_EQ(probe_replies(r)[0], c.first_reply);
        EXPECT_EQ(harness::only(box.calls(), "board").at(0).at("wcol") != "0", c.collided);
    }
}

TEST(BoardConversation, ACommandWhoseSsRoseBeforeItsLastByteWasTakenStillCounts)
{
    REQUIRE_BOARD();
    // At this clock SS rises while the first byte's interrupt still runs.
    Sandbox box;
    const auto r = virtual_run(box, "library_probe")
                       .args({"spi-setup", "0", "1250000", "transfer", "0", "6163", "delay", "300",
                              "transfer", "0", "6163"})
                       .run();
    const auto replies = probe_replies(r);
    ASSERT_EQ(replies.size(), 2U) << r.out << r.err;
    // Not a summary digit left over as the next first byte.
    EXPECT_EQ(std::string("0123?").find(replies[1][0]), std::string::npos) << replies[1];
    const auto board = harness::only(box.calls(), "board").back();
    EXPECT_GT(board.num("d5"), 0);
    EXPECT_GT(board.num("d6"), 0);
}

TEST(BoardConversation, AStoppedBoardEchoesOneByteLateAndSaysWhereItStoppedOnce)
{
    REQUIRE_BOARD();
    struct Case {
        std::string code; // in place of the SPI interrupt's vector
        const char *said;
    };
    for (const Case &c : {
             Case{"\xf8\x94\x88\x95", "slept with interrupts off at pc 0x0048"}, // cli; sleep
             Case{"\x0c\x94\xf0\x3f", "crashed at pc 0x"}, // jmp past the code
         }) {
        SCOPED_TRACE(c.said);
        Sandbox box;
        const auto r = virtual_run(box, "library_probe")
                           .args({"spi-setup", "0", "5000", "transfer", "0", "6163", "transfer",
                                  "0", "6163", "transfer", "0", "6163"})
                           .env("WPISIM_FIRMWARE", patched_firmware(box, 17, c.code))
                           .run();
        // The first byte was loaded before the stop; then each byte sent comes back next.
        EXPECT_EQ(probe_replies(r), (std::vector<std::string>{"wa", "ca", "ca"}));
        EXPECT_EQ(r.err.rfind(std::string("wpisim: board stopped: the firmware ") + c.said, 0), 0U)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST(BoardConversation, TheBoardOutlivesARunAndAFreshOneCanBeAskedFor)
{
    REQUIRE_BOARD();
    Sandbox box;
    ASSERT_EQ(harness::reply_pairs(virtual_run(box, "parley").input("ac").run().out).back(), "i3");
    // Both outputs are still on for the next run, as on a powered board.
    const auto kept = virtual_run(box, "parley").input("bd").run();
    EXPECT_EQ(harness::reply_pairs(kept.out).front(), "w3");
    const auto fresh = virtual_run(box, "parley").input("bd").env("WPISIM_BOARD_RESET", "1").run();
    EXPECT_EQ(harness::reply_pairs(fresh.out), (std::vector<std::string>{"w0", "i0"}));
    const auto links = harness::only(box.calls(), "board-link");
    ASSERT_EQ(links.size(), 3U);
    // One board process all along; the third run reset the board in it.
    for (std::size_t i = 0; i < links.size(); ++i) {
        EXPECT_EQ(links[i].at("board_pid"), links[0].at("board_pid"));
        EXPECT_EQ(links[i].at("reset"), i == 2 ? "1" : "0");
    }
    EXPECT_EQ(fresh.err, "");
}

TEST(BoardConversation, TheBoardProcessEndsWithItsStateDirectory)
{
    REQUIRE_BOARD();
    pid_t board = 0;
    {
        Sandbox box;
        box.program("library_probe").args({"spi-setup", "0", "5000"}).run();
        board = static_cast<pid_t>(harness::only(box.calls(), "board-link").at(0).num("board_pid"));
        ASSERT_EQ(kill(board, 0), 0);
    }
    EXPECT_TRUE(harness::eventually([board] { return kill(board, 0) != 0; }))
        << "board process " << board << " still running";
}

TEST(BoardConversation, EachOutputFollowsItsOwnByte)
{
    REQUIRE_BOARD();
    struct Case {
        const char *input;
        std::vector<std::string> replies;
        const char *d5;
        const char *d6;
    };
    for (const Case &c :
         {Case{"a d", {"w0", "f1", "i1"}, "255", "0"}, Case{"bc", {"w0", "f2", "i2"}, "0", "255"},
          Case{"b\nd", {"w0", "i0"}, "0", "0"}}) {
        SCOPED_TRACE(c.input);
        Sandbox box;
        const auto r = virtual_run(box, "parley").input(c.input).run();
        EXPECT_EQ(harness::reply_pairs(r.out), c.replies);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(outputs(box), (std::pair<std::string, std::string>{c.d5, c.d6}));
    }
}

TEST(BoardConversation, UnknownBytesGetAFlaggedReplyAndChangeNothing)
{
    REQUIRE_BOARD();
    for (const char *input : {"xy", "", "A C"}) {
        SCOPED_TRACE(input);
        Sandbox box;
        const auto r = virtual_run(box, "parley").input(input).run();
        EXPECT_EQ(harness::reply_pairs(r.out), (std::vector<std::string>{"w0", "i?"}));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(outputs(box), (std::pair<std::string, std::string>{"0", "0"}));
    }
}

TEST(BoardConversation, NamedFirmwareThatCannotRunIsAnError)
{
    REQUIRE_BOARD();
    Sandbox box;
    const auto r =
        box.program("parley").input("ac").env("WPISIM_FIRMWARE", box.dir() + "/missing.elf").run();
    EXPECT_NE(r.err.find("WPISIM_FIRMWARE"), std::string::npos) << r.err;
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(harness::reply_pairs(r.out).size(), 0U);
}

} // namespace
