// The stand-in's own promises that the other tests and the demo lean on.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <fstream>
#include <gtest/gtest.h>

using harness::ms;
using harness::prompts;
using harness::reply;
using harness::Sandbox;

namespace
{

TEST(StandInBus, TransferOnAChannelNeverSetUpFailsWithEbadfAndIsLogged)
{
    Sandbox box;
    const auto r =
        box.program("library_probe")
            .args({"transfer", "0", "6162", "spi-setup", "0", "5000", "transfer", "1", "6162"})
            .run();
    EXPECT_EQ(r.out, "-1 9 6162\n0 0\n-1 9 6162\n");
    const auto transfers = harness::only(box.calls(), "spi-transfer");
    ASSERT_EQ(transfers.size(), 2U);
    for (const auto &t : transfers) {
        EXPECT_EQ(t.at("result"), "-1");
        EXPECT_EQ(t.at("errno"), "9");
    }
}

TEST(StandInBus, TransferBlocksForEightBitTimesPerByteAtTheSetUpSpeed)
{
    struct Case {
        const char *speed;
        const char *bytes;
        std::int64_t at_least_ns;
    };
    for (const Case &c : {Case{"5000", "6162", 3200000}, Case{"1000", "616263", 24 * ms}}) {
        Sandbox box;
        box.program("library_probe")
            .args({"spi-setup", "0", c.speed, "transfer", "0", c.bytes})
            .env("WPISIM_PEER", "loopback")
            .run();
        const auto t = harness::only(box.calls(), "spi-transfer").at(0);
        EXPECT_GE(t.num("end_ns") - t.num("start_ns"), c.at_least_ns) << c.speed;
        EXPECT_EQ(t.bytes("in"), t.bytes("out"));
    }
}

TEST(StandInPeers, ScriptRepeatsItsLastReplyOnceUsedUp)
{
    Sandbox box;
    const auto r = box.program("library_probe")
                       .args({"spi-setup", "0", "5000", "transfer", "0", "0000", "transfer", "0",
                              "0000", "transfer", "0", "000000"})
                       .env("WPISIM_REPLIES", "4142,4344")
                       .run();
    EXPECT_EQ(r.out, "0 0\n2 0 4142\n2 0 4344\n3 0 434400\n");
}

TEST(StandInPeers, BadScriptIsRefusedWithAReason)
{
    Sandbox box;
    const auto r = box.program("parley").input("ab").env("WPISIM_REPLIES", "414").run();
    EXPECT_NE(r.err.find("WPISIM_REPLIES"), std::string::npos) << r.err;
    EXPECT_NE(r.status, 0);
}

TEST(StandInPeers, SmallModelEndsAConversationOnTheThirdCycle)
{
    Sandbox box;
    const auto r = box.program("parley").input("ab").env("WPISIM_PEER", "model").run();
    EXPECT_EQ(r.out, prompts + reply("--") + reply("ab") + reply("ib"));
    EXPECT_EQ(r.status, 0);
}

TEST(StandInGpio, CallsBeforeSetUpAreFlaggedAndIgnored)
{
    Sandbox box;
    const auto r = box.program("library_probe").args({"mode", "0", "1", "write", "0", "1"}).run();
    const auto misuse = harness::only(box.calls(), "misuse");
    ASSERT_EQ(misuse.size(), 2U);
    EXPECT_EQ(misuse[0].at("call"), "pinMode");
    EXPECT_EQ(misuse[1].at("call"), "digitalWrite");
    EXPECT_EQ(misuse[0].at("reason"), "before-wiringPiSetup");
    EXPECT_NE(r.err.find("before-wiringPiSetup"), std::string::npos);
    EXPECT_EQ(box.pin_state(0), "- -");
}

TEST(StandInGpio, UnusableStateDirectoryIsAClearErrorNotASilentPin)
{
    Sandbox box;
    const std::string blocker = box.dir() + "/not-a-dir";
    std::ofstream(blocker) << "x";
    const auto r = box.program("allumer").env("WPISIM_STATE_DIR", blocker + "/gpio").run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(blocker + "/gpio: Not a directory\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("allumer: cannot set up GPIO access: Not a directory\n"),
              std::string::npos)
        << r.err;
}

} // namespace
