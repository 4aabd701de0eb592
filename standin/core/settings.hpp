// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// Every WPISIM_* setting, declared once: how its value is written, what it
// means, what unset means, and which other setting it needs. The getters are
// the only readers of the environment for these names, so every setting
// treats an empty value as unset, refuses the same way, and quotes what it
// shows. wpisim(7) is printed from this table.
//
// A choice read outside core has no words in its row: the module that reads
// it gives them from its own table, word to thing (ChoiceWords), so each list
// is kept once and the reader cannot meet a word it lacks.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wpisim
{

enum class SettingType {
    text,       // any bytes; the reader checks them itself
    path,       // a file or directory name
    number,     // plain decimal, within [min, max]
    choice,     // one of words
    errno_code, // an errno name from errno_names(), or a number from 1 to 4095; 0 is none
    pattern,    // a syntax of its own, checked by check
};

struct Setting {
    const char *name;
    SettingType type;
    const char *syntax;  // the value as the man page writes it: FILE, HZ, N[:ERRNO]...
    const char *meaning; // one line
    const char *unset;   // what unset (or empty) means
    const char *needs;   // a setting without which this one is refused, or nullptr
    // What a refused value is not: "not <noun> (<range or words>)"; a choice
    // without one says "not <word>, <word> or <word>".
    const char *noun;
    std::uint64_t min; // number: the range
    std::uint64_t max;
    std::vector<std::string_view> words; // choice: the words allowed; none: its module's
    // pattern: why a value is refused, or empty when it is good.
    std::string (*check)(std::string_view value);
};

// Calls visit for every row, in the table's order, a module's choice with its words.
void for_each_setting(const std::function<void(const Setting &)> &visit);

// A value a setting takes from elsewhere while its variable is unset (the
// bench file's), and where it was written, for messages: "FILE:LINE: model".
struct SettingFallback {
    std::string value;
    std::string where;
};
using SettingSource = std::optional<SettingFallback> (*)(std::string_view name);

// Gives the getters the one source of such values. Core cannot know the
// module that has them, so that module gives it, before main; the source
// answers for the settings it has and nullopt for the others.
void give_setting_source(SettingSource source);

// Why the setting refuses value, as its error says it ("not a Pi model
// (...)"), or empty when it takes it. The needed setting is not looked at.
std::string setting_refusal(std::string_view name, std::string_view value);

// The checked value, or nullopt when unset or empty: the variable, else
// the value of the source given, which a refusal names by its where. A value its row refuses,
// or one set without the setting it needs, ends the process:
// `wpisim: NAME="value": why`, status 2. Works for every type; for a choice
// the result is one of its words.
std::optional<std::string> setting_text(std::string_view name);

// A number setting's value.
std::optional<std::uint64_t> setting_number(std::string_view name);

// A choice setting whose words are 0 and 1: true when it is 1.
bool setting_flag(std::string_view name);

// An errno setting's value: 0 when unset or 0.
int setting_errno(std::string_view name);

// The one syntax for a number: decimal digits and nothing else, within
// [min, max]; nullopt otherwise.
std::optional<std::uint64_t> decimal(std::string_view text, std::uint64_t min, std::uint64_t max);

// An errno name (EACCES...) or number from 1 to 4095; nullopt otherwise.
std::optional<int> errno_code(std::string_view text);

// The errno names errno_code() knows, for messages and the man page.
std::string errno_names();

// Gives a choice row the words of the module that reads it. Made at namespace
// scope in the file that reads the setting, so every program that links the
// reader has them before main; a choice left without words ends the process
// when it is read.
// Messages list the words in the table's order. Nothing made before main
// can be caught, so a failure here ends the process.
class ChoiceWords
{
  public:
    template <class Row, class Word, std::size_t N>
    ChoiceWords(const char *setting, const Row (&table)[N], Word Row::*word) noexcept
    {
        std::vector<std::string_view> words;
        for (const Row &row : table)
            words.emplace_back(row.*word);
        give(setting, std::move(words));
    }

  private:
    static void give(const char *setting, std::vector<std::string_view> words);
};

// The row of a module's table that word names, or null.
template <class Row, class Word, std::size_t N>
const Row *find_row(std::string_view word, const Row (&table)[N], Word Row::*member)
{
    for (const Row &row : table)
        if (word == std::string_view(row.*member))
            return &row;
    return nullptr;
}

// A word the setting took that its module's table lacks: our bug. Ends the process.
[[noreturn]] void no_row(std::string_view setting, std::string_view word);

// The row of a module's table the setting names, or null when unset. A value
// the setting refuses ends the process as setting_text() does.
template <class Row, class Word, std::size_t N>
const Row *setting_row(std::string_view setting, const Row (&table)[N], Word Row::*member)
{
    const auto word = setting_text(setting);
    if (!word)
        return nullptr;
    if (const Row *row = find_row(*word, table, member))
        return row;
    no_row(setting, *word);
}

} // namespace wpisim
