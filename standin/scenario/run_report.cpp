// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "run_report.hpp"

#include <cstdio>

namespace wpisim
{

namespace
{

// XML 1.0 text: markup escaped, and the control bytes it cannot carry at all
// (a program may print anything) written as \xNN.
std::string xml_text(const std::string &in)
{
    std::string out;
    out.reserve(in.size());
    for (const char c : in) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (u < 0x20 && c != '\n' && c != '\t' && c != '\r') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string seconds(std::int64_t ns)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(ns) / 1e9);
    return text;
}

} // namespace

std::string junit_xml(const RunReport &r)
{
    int failures = 0;
    int errors = 0;
    int skipped = 0;
    for (const CheckResult &c : r.checks) {
        failures +=
            c.outcome == CheckOutcome::failed || c.outcome == CheckOutcome::timed_out ? 1 : 0;
        errors += c.outcome == CheckOutcome::bench_error ? 1 : 0;
        skipped += c.outcome == CheckOutcome::skipped ? 1 : 0;
    }
    const std::string suite = xml_text(r.suite);
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    x += "  <testsuite name=\"" + suite + "\" tests=\"" + std::to_string(r.checks.size()) +
         "\" failures=\"" + std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
         "\" skipped=\"" + std::to_string(skipped) + "\" time=\"" + seconds(r.ns) + "\">\n";
    for (const CheckResult &c : r.checks) {
        x += "    <testcase classname=\"wpisim." + suite + "\" name=\"" + xml_text(c.name) +
             "\" time=\"" + seconds(c.ns) + "\"";
        const std::string why = xml_text(c.message);
        switch (c.outcome) {
        case CheckOutcome::passed:
            x += "/>\n";
            continue;
        case CheckOutcome::skipped:
            x += ">\n      <skipped/>\n";
            break;
        case CheckOutcome::failed:
            x += ">\n      <failure type=\"expectation\" message=\"" + why + "\"/>\n";
            break;
        case CheckOutcome::timed_out:
            x += ">\n      <failure type=\"time limit\" message=\"" + why + "\"/>\n";
            break;
        case CheckOutcome::bench_error:
            x += ">\n      <error type=\"bench\" message=\"" + why + "\"/>\n";
            break;
        }
        x += "    </testcase>\n";
    }
    x += "    <system-out>" + xml_text(r.output) + "</system-out>\n";
    x += "  </testsuite>\n</testsuites>\n";
    return x;
}

} // namespace wpisim
