// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pi_model.hpp"

#include "settings.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace wpisim::pi
{

namespace
{

// PI_MODEL_* and the other values as wiringPi.h numbers them.
enum : int { model_a = 0, model_b = 1, model_ap = 2, model_bp = 3, model_cm = 6 };
enum : int { model_5 = 23, model_cm5 = 24, model_500 = 25, model_cm5l = 26 };
enum : int { version_1 = 0, version_1_1 = 1, version_1_2 = 2 };
enum : int { sony = 0, egoman = 1, embest = 2 };

struct OldCode {
    const char *code;
    BoardId id;
};

// 3.14's table of the boards before the new-style codes.
const OldCode old_codes[] = {
    {"0002", {model_b, version_1, 0, egoman, 0}},    {"0003", {model_b, version_1_1, 0, egoman, 0}},
    {"0004", {model_b, version_1_2, 0, sony, 0}},    {"0005", {model_b, version_1_2, 0, egoman, 0}},
    {"0006", {model_b, version_1_2, 0, egoman, 0}},  {"0007", {model_a, version_1_2, 0, egoman, 0}},
    {"0008", {model_a, version_1_2, 0, sony, 0}},    {"0009", {model_a, version_1_2, 0, egoman, 0}},
    {"000d", {model_b, version_1_2, 1, egoman, 0}},  {"000e", {model_b, version_1_2, 1, sony, 0}},
    {"000f", {model_b, version_1_2, 1, egoman, 0}},  {"0010", {model_bp, version_1_2, 1, sony, 0}},
    {"0013", {model_bp, version_1_2, 1, embest, 0}}, {"0016", {model_bp, version_1_2, 1, sony, 0}},
    {"0019", {model_bp, version_1_2, 1, egoman, 0}}, {"0011", {model_cm, version_1_1, 1, sony, 0}},
    {"0014", {model_cm, version_1_1, 1, embest, 0}}, {"0017", {model_cm, version_1_1, 1, sony, 0}},
    {"001a", {model_cm, version_1_1, 1, egoman, 0}}, {"0012", {model_ap, version_1_1, 0, sony, 0}},
    {"0015", {model_ap, version_1_1, 1, embest, 0}}, {"0018", {model_ap, version_1_1, 0, sony, 0}},
    {"001b", {model_ap, version_1_1, 0, egoman, 0}},
};

// One common board per word, by its revision code:
//   pi1-rev1  0002    Model B rev 1.0, 256 MB, Egoman: the first GPIO layout
//   pi1       0010    Model B+ rev 1.2, 512 MB, Sony
//   pi2       a01041  Pi 2 B rev 1.1, 1 GB, Sony UK
//   pi3       a02082  Pi 3 B rev 1.2, 1 GB, Sony UK
//   zero      900093  Zero rev 1.3, 512 MB, Sony UK
//   zero2w    902120  Zero 2 W rev 1.0, 512 MB, Sony UK
//   pi4       c03114  Pi 4 B rev 1.4, 4 GB, Sony UK
//   pi5       c04170  Pi 5 rev 1.0, 4 GB, Sony UK
// WPISIM_PI's words are these.
struct Board {
    std::string_view word;
    unsigned code;
};
constexpr Board boards[] = {
    {"pi1-rev1", 0x0002}, {"pi1", 0x0010},      {"pi2", 0xa01041}, {"pi3", 0xa02082},
    {"zero", 0x900093},   {"zero2w", 0x902120}, {"pi4", 0xc03114}, {"pi5", 0xc04170},
};
const ChoiceWords pi_words("WPISIM_PI", boards, &Board::word);

constexpr std::size_t unset_board = 6;
static_assert(boards[unset_board].word == "pi4");

std::vector<Model> make_models()
{
    std::vector<Model> all;
    for (const Board &b : boards)
        all.push_back(decode(b.word, b.code));
    return all;
}

} // namespace

Model decode(std::string_view word, unsigned revision_code)
{
    Model m{word, revision_code, {0, 0, 0, 0, 0}, 2, true, false};
    const unsigned c = revision_code;
    if ((c & (1U << 23)) != 0) {
        m.id = {static_cast<int>((c >> 4) & 0xff), static_cast<int>(c & 0xf),
                static_cast<int>((c >> 20) & 0x7), static_cast<int>((c >> 16) & 0xf),
                (c & (3U << 24)) != 0 ? 1 : 0};
    } else {
        // 3.14 reads the code as hex text: a longer one was over-volted, and
        // only its last four digits name the board.
        std::array<char, 16> text{};
        std::snprintf(text.data(), text.size(), "%04x", c);
        const std::size_t length = std::strlen(text.data());
        const char *last4 = text.data() + length - 4;
        for (const OldCode &old : old_codes)
            if (std::strcmp(old.code, last4) == 0)
                m.id = old.id;
        m.id.over_volted = length > 4 ? 1 : 0;
        if (std::strcmp(last4, "0002") == 0 || std::strcmp(last4, "0003") == 0)
            m.layout = 1;
    }
    m.forty_pins = m.id.model != model_a && m.id.model != model_b;
    m.rp1 = m.id.model == model_5 || m.id.model == model_cm5 || m.id.model == model_500 ||
            m.id.model == model_cm5l;
    return m;
}

const std::vector<Model> &models()
{
    // Never destroyed: an interrupt's thread may still read it as the
    // program exits.
    static const std::vector<Model> &all = *new std::vector<Model>(make_models());
    return all;
}

const Model *find_model(std::string_view word)
{
    for (const Model &m : models())
        if (m.word == word)
            return &m;
    return nullptr;
}

const Model &model()
{
    // models() is boards, decoded, in the same order.
    static const Model *const chosen = [] {
        const Board *b = setting_row("WPISIM_PI", boards, &Board::word);
        return &models()[b != nullptr ? static_cast<std::size_t>(b - boards) : unset_board];
    }();
    return *chosen;
}

} // namespace wpisim::pi
