// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// What parley asks of the library, and in what order.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

using harness::Sandbox;
using harness::script;

namespace
{

TEST(ParleyBus, OpensChannelZeroAt5kHzThenTransfersTwoBytesAndPausesEachCycle)
{
    Sandbox box;
    const auto r =
        box.program("parley").input("ab").env("WPISIM_REPLIES", script({"w0", "f1", "i3"})).run();
    ASSERT_EQ(r.status, 0);
    const auto calls = box.calls();

    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].event, "spi-setup");
    EXPECT_EQ(calls[0].at("channel"), "0");
    EXPECT_EQ(calls[0].at("speed"), "5000");

    std::vector<std::string> expected{"spi-setup"};
    for (int cycle = 0; cycle < 3; ++cycle)
        expected.insert(expected.end(), {"spi-transfer", "delay", "delay"});
    // No wiringPiSetup, no GPIO: parley drives no pin.
    EXPECT_EQ(harness::events(calls), expected);

    for (const auto &t : harness::only(calls, "spi-transfer")) {
        EXPECT_EQ(t.at("channel"), "0");
        EXPECT_EQ(t.at("len"), "2");
        EXPECT_EQ(t.at("result"), "2");
    }
    const auto delays = harness::only(calls, "delay");
    for (std::size_t i = 0; i < delays.size(); ++i)
        EXPECT_EQ(delays[i].at("ms"), i % 2 == 0 ? "10" : "500");
}

TEST(ParleyBus, SwitchesNeverTouchSpiAndParleyNeverSetsUpGpio)
{
    Sandbox box;
    box.program("allumer").run();
    box.program("eteindre").run();
    for (const auto &call : box.calls())
        EXPECT_EQ(call.event.rfind("spi-", 0), std::string::npos) << call.event;

    Sandbox other;
    other.program("parley").input("ab").env("WPISIM_REPLIES", script({"i0"})).run();
    for (const auto &call : other.calls())
        EXPECT_TRUE(call.event.rfind("spi-", 0) == 0 || call.event == "delay") << call.event;
}

} // namespace
