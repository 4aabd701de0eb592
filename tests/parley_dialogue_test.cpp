// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// What the operator sees and what parley sends: prompts, reply lines, the stop
// byte and how typed input becomes the two bytes.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

using harness::prompts;
using harness::reply;
using harness::Sandbox;
using harness::script;

namespace
{

// The bytes parley put on the bus, one string per transfer.
std::vector<std::string> sent(const Sandbox &box)
{
    std::vector<std::string> out;
    for (const auto &call : harness::only(box.calls(), "spi-transfer"))
        out.push_back(call.bytes("out"));
    return out;
}

TEST(ParleyDialogue, PromptsAndReplyLinesAreExactBytes)
{
    Sandbox box;
    const auto r = box.program("parley")
                       .input("a\nc\n")
                       .env("WPISIM_REPLIES", script({"w0", "f1", "i3"}))
                       .run();
    EXPECT_EQ(r.out, prompts + reply("w0") + reply("f1") + reply("i3"));
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sent(box), (std::vector<std::string>{"ac", "ac", "ac"}));
}

TEST(ParleyDialogue, StopsOnlyWhenTheFirstReceivedByteIsLowerCaseI)
{
    Sandbox box;
    const auto r = box.program("parley")
                       .input("ab")
                       .env("WPISIM_REPLIES", script({"xi", "Ix", "II", "ii"}))
                       .run();
    EXPECT_EQ(r.out, prompts + reply("xi") + reply("Ix") + reply("II") + reply("ii"));
    EXPECT_EQ(r.status, 0);
}

TEST(ParleyDialogue, StopByteInTheFirstCycleEndsAfterOneLine)
{
    Sandbox box;
    const auto r =
        box.program("parley").input("ab").env("WPISIM_REPLIES", script({"i?", "xx"})).run();
    EXPECT_EQ(r.out, prompts + reply("i?"));
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sent(box).size(), 1U);
}

TEST(ParleyDialogue, TwoLettersOnOneLineFillBothBytesWithoutWaiting)
{
    Sandbox box;
    // Input stays open: a parley that waited for a second line would hang here.
    const auto r = box.program("parley")
                       .input("ab\n")
                       .keep_input_open()
                       .env("WPISIM_REPLIES", script({"i0"}))
                       .run();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, prompts + reply("i0"));
    EXPECT_EQ(sent(box), (std::vector<std::string>{"ab"}));
}

TEST(ParleyDialogue, WhiteSpaceBeforeEachByteIsSkipped)
{
    Sandbox box;
    box.program("parley")
        .input(" \t\n  a\n\n\t \r\v\fb   \n")
        .env("WPISIM_REPLIES", script({"i0"}))
        .run();
    EXPECT_EQ(sent(box), (std::vector<std::string>{"ab"}));
}

TEST(ParleyDialogue, MissingInputSendsZeroForEachByteNotRead)
{
    struct Case {
        std::string input;
        std::string expected;
    };
    for (const Case &c :
         {Case{"", std::string(2, '\0')}, Case{"  \n\t", std::string(2, '\0')},
          Case{"a", std::string("a\0", 2)}, Case{" x \n ", std::string("x\0", 2)}}) {
        SCOPED_TRACE("input: '" + c.input + "'");
        Sandbox box;
        const auto r =
            box.program("parley").input(c.input).env("WPISIM_REPLIES", script({"w0", "i0"})).run();
        EXPECT_EQ(r.out, prompts + reply("w0") + reply("i0"));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        // The same pair every cycle, not just the first.
        EXPECT_EQ(sent(box), (std::vector<std::string>{c.expected, c.expected}));
    }
}

TEST(ParleyDialogue, ReceivedBytesAreWrittenRawEvenWhenTheyDoNotPrint)
{
    Sandbox box;
    const std::string nul_soh("\x00\x01", 2);
    const auto r = box.program("parley")
                       .input("ab")
                       .env("WPISIM_REPLIES", script({nul_soh, "\x1b\x7f", "\n\r", "i\xff"}))
                       .run();
    EXPECT_EQ(r.out, prompts + reply(nul_soh) + reply("\x1b\x7f") + reply("\n\r") + reply("i\xff"));
    EXPECT_EQ(r.status, 0);
}

TEST(ParleyDialogue, ArgumentsChangeNothing)
{
    Sandbox box;
    const auto r = box.program("parley")
                       .args({"--help", "-x", "1"})
                       .input("ab")
                       .env("WPISIM_REPLIES", script({"w0", "i0"}))
                       .run();
    EXPECT_EQ(r.out, prompts + reply("w0") + reply("i0"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sent(box), (std::vector<std::string>{"ab", "ab"}));
}

} // namespace
