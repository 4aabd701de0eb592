// parley talking to the reference firmware running in the AVR simulator.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

using harness::prompts;
using harness::Sandbox;

namespace
{

#if !HAS_SIMULATED_BOARD
#define REQUIRE_BOARD()                                                                            \
    GTEST_SKIP() << "the simulated board is not built (needs simavr and gcc-avr)"
#else
#define REQUIRE_BOARD() (void)0
#endif

// D5 and D6 as the firmware left them after the last exchange.
std::pair<std::string, std::string> outputs(const Sandbox &box)
{
    const auto board = harness::only(box.calls(), "board");
    if (board.empty())
        return {"?", "?"};
    return {board.back().at("d5"), board.back().at("d6")};
}

TEST(BoardConversation, FadeCommandEndsByItselfWithBothOutputsOn)
{
    REQUIRE_BOARD();
    Sandbox box;
    const auto r = box.program("parley").input("a\nc\n").run();
    ASSERT_EQ(r.out.rfind(prompts, 0), 0U);
    const auto pairs = harness::reply_pairs(r.out);
    ASSERT_GE(pairs.size(), 2U);
    // Never idle on the first cycle: the command had not arrived yet.
    EXPECT_EQ(pairs.front(), "w0");
    for (std::size_t i = 1; i + 1 < pairs.size(); ++i)
        EXPECT_EQ(pairs[i][0], 'f') << "cycle " << i + 1;
    EXPECT_EQ(pairs.back(), "i3");
    EXPECT_LE(pairs.size(), 4U);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(outputs(box), (std::pair<std::string, std::string>{"255", "255"}));
    // The bytes really travelled through the simulated slave.
    for (const auto &t : harness::only(box.calls(), "spi-transfer"))
        EXPECT_EQ(t.bytes("out"), "ac");
}

TEST(BoardConversation, EachOutputFollowsItsOwnByte)
{
    REQUIRE_BOARD();
    struct Case {
        const char *input;
        const char *last;
        const char *d5;
        const char *d6;
    };
    for (const Case &c : {Case{"a d", "i1", "255", "0"}, Case{"bc", "i2", "0", "255"},
                          Case{"b\nd", "i0", "0", "0"}}) {
        SCOPED_TRACE(c.input);
        Sandbox box;
        const auto r = box.program("parley").input(c.input).run();
        EXPECT_EQ(harness::reply_pairs(r.out).back(), c.last);
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
        const auto r = box.program("parley").input(input).run();
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
