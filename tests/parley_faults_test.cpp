// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// parley when the library or the output fails: a clear line on stderr, a
// non-zero status, and every reply line produced so far kept.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <csignal>
#include <gtest/gtest.h>

using harness::prompts;
using harness::reply;
using harness::Sandbox;
using harness::script;

namespace
{

// wiringPi 3.14 ends the program itself when the SPI device does not open:
// parley calls no wiringPiSetup, which alone could turn on WIRINGPI_CODES.
TEST(ParleyFaults, FailedSpiSetupStopsBeforeAnyPromptOrTransfer)
{
    Sandbox box;
    // An 'i' typed first would once have ended "successfully" on our own echo.
    const auto r = box.program("parley")
                       .input("ib")
                       .env("WPISIM_FAIL_SPI_SETUP", "EACCES")
                       .env("WPISIM_REPLIES", script({"i0"}))
                       .run();
    EXPECT_EQ(r.err, "Unable to open SPI device /dev/spidev0.0: Permission denied\n");
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(harness::only(box.calls(), "spi-transfer").empty());
}

TEST(ParleyFaults, FailedTransferStopsWithoutAReplyLineForThatCycle)
{
    struct Case {
        int failing;
        std::string fault;
        std::string lines;
        std::string why;
    };
    const std::vector<std::string> replies{"w0", "f1", "f2", "f3", "i3"};
    for (const Case &c : {Case{1, "1", "", "Input/output error"},
                          Case{3, "3:ETIMEDOUT", reply("w0") + reply("f1"), "Connection timed out"},
                          Case{5, "5:EIO", reply("w0") + reply("f1") + reply("f2") + reply("f3"),
                               "Input/output error"}}) {
        SCOPED_TRACE("transfer " + c.fault);
        Sandbox box;
        // 'i' first: an unchecked failure would echo it back and exit 0.
        const auto r = box.program("parley")
                           .input("ib")
                           .env("WPISIM_REPLIES", script(replies))
                           .env("WPISIM_FAIL_TRANSFER", c.fault)
                           .run();
        EXPECT_EQ(r.out, prompts + c.lines);
        EXPECT_EQ(r.err, "parley: SPI transfer failed: " + c.why + "\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(harness::only(box.calls(), "spi-transfer").size(),
                  static_cast<std::size_t>(c.failing));
    }
}

TEST(ParleyFaults, EveryReplyLineReachesAPipeBeforeAnInterrupt)
{
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        Sandbox box;
        // Lines held in a buffer would never arrive, and the run would time out.
        const auto r = box.program("parley")
                           .input("ab")
                           .env("WPISIM_REPLIES", script({"w0", "f1", "f2"}))
                           .signal_when(harness::after_replies(3), sig)
                           .run();
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.out, prompts + reply("w0") + reply("f1") + reply("f2"));
        EXPECT_FALSE(r.exited);
        EXPECT_EQ(r.signal, sig);
    }
}

TEST(ParleyFaults, UnwritableOutputStopsTheExchange)
{
    Sandbox box;
    const auto r = box.program("parley")
                       .input("ab")
                       .output_file("/dev/full")
                       .env("WPISIM_REPLIES", script({"w0"}))
                       .run();
    EXPECT_FALSE(r.timed_out);
    // The first prompt already fails: nothing is read or sent.
    EXPECT_EQ(r.err, "parley: cannot write prompt: No space left on device\n");
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(harness::only(box.calls(), "spi-transfer").empty());
}

} // namespace
