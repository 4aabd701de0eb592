// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Prints the ENVIRONMENT section of wpisim(7) from the stand-in's settings
// table, with the words each module gives its choices, so the page cannot
// drift from what the stand-in reads.

#include "settings.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace
{

// Text as roff shows it: backslashes and hyphens literal, no line taken for a request.
std::string roff(std::string_view text)
{
    std::string out = text.substr(0, 1) == "." || text.substr(0, 1) == "'" ? "\\&" : "";
    for (const char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

std::string words(const std::vector<std::string_view> &list)
{
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i)
        out += (i == 0                 ? ""
                : i + 1 == list.size() ? " or "
                                       : ", ") +
               ("\\fB" + roff(list[i])) + "\\fR";
    return out;
}

// What the value may be, where the syntax alone does not say it.
std::string values(const wpisim::Setting &s)
{
    const std::string syntax = "\\fI" + roff(s.syntax) + "\\fR";
    switch (s.type) {
    case wpisim::SettingType::number:
        return syntax + " is a decimal number from " + std::to_string(s.min) + " to " +
               std::to_string(s.max) + ".";
    case wpisim::SettingType::choice: {
        std::string listed;
        for (const std::string_view word : s.words)
            listed.append(listed.empty() ? "" : "|").append(word);
        // A syntax such as 0|1 names the words already.
        return listed == s.syntax ? "" : syntax + " is " + words(s.words) + ".";
    }
    case wpisim::SettingType::errno_code:
        return syntax + " is an errno name (" + roff(wpisim::errno_names()) +
               ") or a number from 1 to 4095.";
    case wpisim::SettingType::text:
    case wpisim::SettingType::path:
    case wpisim::SettingType::pattern:
        break;
    }
    return "";
}

} // namespace

int main()
{
    std::string page = ".SH ENVIRONMENT\n"
                       "An empty variable counts as unset. A value not understood, or one set "
                       "without a variable it needs, ends the program at its first library call "
                       "with the stand-in's error (see\n.BR DIAGNOSTICS ).\n";
    wpisim::for_each_setting([&page](const wpisim::Setting &s) {
        page += ".TP\n\\fB" + roff(s.name) + "\\fR=\\fI" + roff(s.syntax) + "\\fR\n";
        page += roff(s.meaning) + "\n";
        if (const std::string v = values(s); !v.empty())
            page += v + "\n";
        if (s.needs != nullptr)
            page += "Needs\n.BR " + roff(s.needs) + " .\n";
        page += "Unset: " + roff(s.unset) + ".\n";
    });
    return std::fputs(page.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
}
