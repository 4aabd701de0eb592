// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The choice settings whose words their modules own: every word the settings
// table takes names something there, and any other is refused as before.

#include "board_kind.hpp"
#include "peer_choice.hpp"
#include "pi_model.hpp"
#include "settings.hpp"
#include "wiring_faults.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace
{

TEST(ChoiceSettings, EveryWordResolvesInItsModuleAndNoOtherIsTaken)
{
    // Forked, not run again: under a cross build's emulator the test program
    // cannot exec itself. The test has no threads to lose in the fork.
    GTEST_FLAG_SET(death_test_style, "fast");
    struct Case {
        std::string_view setting;
        bool (*resolves)(std::string_view word);
        const char *refusal; // of any other word
    };
    const Case cases[] = {
        {"WPISIM_PEER", [](std::string_view w) { return wpisim::find_peer(w) != nullptr; },
         "not a peer (script, model, loopback, board)"},
        {"WPISIM_BOARD",
         [](std::string_view w) { return wpisim::find_board_kind(std::string(w)) != nullptr; },
         "not a kind of board (uno, nano, pro-mini, pro-mini-8mhz, mega)"},
        {"WPISIM_PI",
         [](std::string_view w) {
             const auto *m = wpisim::pi::find_model(w);
             return m != nullptr && m->word == w;
         },
         "not a Pi model (pi1-rev1, pi1, pi2, pi3, zero, zero2w, pi4, pi5)"},
        {"WPISIM_WIRING", [](std::string_view w) { return wpisim::find_wiring(w) != nullptr; },
         "not a wiring (ok, no-miso, no-mosi, no-ce0, swapped, no-ground, no-firmware)"},
    };
    constexpr const char *other = "pi7"; // no choice's word
    std::size_t seen = 0;
    wpisim::for_each_setting([&](const wpisim::Setting &s) {
        const std::string_view name = s.name;
        // Core reads these two itself and keeps their words in the table.
        if (s.type != wpisim::SettingType::choice || name == "WPISIM_TIME" ||
            name == "WPISIM_BOARD_RESET")
            return;
        const Case *c = nullptr;
        for (const Case &each : cases)
            if (each.setting == name)
                c = &each;
        if (c == nullptr) {
            ADD_FAILURE() << name << ": a choice this test does not know";
            return;
        }
        ++seen;
        EXPECT_FALSE(s.words.empty()) << name;
        for (const std::string_view word : s.words)
            EXPECT_TRUE(c->resolves(word)) << name << "=" << word;
        const std::string refused =
            "wpisim: " + std::string(name) + "=\"" + other + "\": " + c->refusal + "\n";
        EXPECT_EXIT(
            {
                setenv(s.name, other, 1);
                wpisim::setting_text(name);
            },
            testing::ExitedWithCode(2), testing::Matcher<const std::string &>(refused));
    });
    EXPECT_EQ(seen, std::size(cases));
}

} // namespace
