// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors

// What a real bench shows that an ideal one hides: the clock a Pi really
// makes, wiring faults, and the trace a logic analyzer would record.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"
#include "simulated_board.hpp"
#include "suite_tool.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

using harness::Sandbox;
namespace fs = std::filesystem;

namespace
{

TEST(BenchVariables, SeededCoreClockMixesBothClocksTheSameWayEveryRun)
{
    auto clocks = [](const char *core) {
        Sandbox box;
        std::vector<std::string> args{"spi-setup", "0", "5000"};
        for (int i = 0; i < 24; ++i)
            args.insert(args.end(), {"transfer", "0", "00"});
        box.program("library_probe")
            .args(args)
            .env("WPISIM_PEER", "loopback")
            .env("WPISIM_PI", "pi3")
            .env("WPISIM_CORE", core)
            .run();
        std::string seen;
        for (const auto &t : harness::only(box.calls(), "spi-transfer"))
            seen += t.at("core_mhz") == "400" ? 'l' : 'i';
        return seen;
    };
    const std::string first = clocks("seed:7");
    EXPECT_EQ(first.size(), 24U);
    EXPECT_NE(first.find('l'), std::string::npos) << first;
    EXPECT_NE(first.find('i'), std::string::npos) << first;
    EXPECT_EQ(clocks("seed:7"), first);
    EXPECT_NE(clocks("seed:8"), first);
}

// Bytes as od -c shows them, without its spacing.
std::string od_c(const std::string &bytes)
{
    std::string shown;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const char *escapes[] = {"\\0", "\\a", "\\b", "\\t", "\\n", "\\v", "\\f", "\\r"};
        if (b == 0)
            shown += escapes[0];
        else if (b >= 7 && b <= 13)
            shown += escapes[b - 6];
        else if (b >= 0x20 && b < 0x7f)
            shown += c;
        else {
            std::ostringstream octal;
            octal << std::oct << static_cast<unsigned>(b);
            shown += octal.str();
        }
    }
    return shown;
}

TEST(PiClocks, FirmwareAnswersAtEveryPiClockAlsoWhenItMovesBetweenExchanges)
{
    REQUIRE_BOARD();
    // "a" and "c" on a fresh board at the SCLK each Pi makes for parley's
    // 5000 Hz, with the core clock loaded and idle: the figures measured on
    // real boards.
    struct Case {
        const char *pi;
        double loaded_hz;
        double idle_hz;
    };
    for (const Case &c :
         {Case{"", 5000, 5000}, Case{"pi1", 5000, 5000}, Case{"pi2", 5000, 5000},
          Case{"pi3", 6103.5, 3814.7}, Case{"zero", 6103.5, 3814.7}, Case{"zero2w", 6103.5, 3814.7},
          Case{"pi4", 7629.4, 3051.8}, Case{"pi5", 5000, 5000}}) {
        SCOPED_TRACE(*c.pi != '\0' ? c.pi : "no Pi named");
        Sandbox box;
        const auto r = virtual_run(box, "parley")
                           .input("a\nc\n")
                           .env("WPISIM_PI", c.pi)
                           // The core clock is a Pi's: without one it is refused.
                           .env("WPISIM_CORE", *c.pi != '\0' ? "li" : "")
                           .run();
        EXPECT_EQ(r.out.rfind(harness::prompts, 0), 0U);
        // Never idle on the first cycle: the command had not arrived yet.
        EXPECT_EQ(harness::reply_pairs(r.out), (std::vector<std::string>{"w0", "f3", "i3"}));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(harness::only(box.calls(), "spi-setup").at(0).at("speed"), "5000");
        const auto transfers = harness::only(box.calls(), "spi-transfer");
        for (std::size_t i = 0; i < transfers.size(); ++i) {
            const auto &t = transfers[i];
            const double want = i % 2 == 0 ? c.loaded_hz : c.idle_hz;
            EXPECT_NEAR(static_cast<double>(t.num("sclk_hz")), want, 1) << "transfer " << i + 1;
            // 16 bit-times on the wire at the clock used, not the one asked for.
            EXPECT_NEAR(static_cast<double>(t.num("end_ns") - t.num("start_ns")), 16e9 / want,
                        1000);
            // The bytes really travelled through the simulated slave.
            EXPECT_EQ(t.bytes("out"), "ac");
        }
        const auto board = harness::only(box.calls(), "board");
        ASSERT_EQ(board.size(), transfers.size());
        // Both outputs fully on; between exchanges MISO is left to other
        // devices, and no SPDR write collided.
        EXPECT_EQ(board.back().at("d5"), "255");
        EXPECT_EQ(board.back().at("d6"), "255");
        for (const auto &b : board) {
            EXPECT_EQ(b.at("miso_idle"), "released");
            EXPECT_EQ(b.at("wcol"), "0");
        }
    }
}

std::vector<std::string> cells(const std::string &row)
{
    std::vector<std::string> out;
    std::stringstream in(row);
    std::string cell;
    std::getline(in, cell, '|'); // before the first bar
    while (std::getline(in, cell, '|'))
        out.push_back(cell);
    return out;
}

// The rows of the Pi guide's troubleshooting table: a user's guide that must
// stay true, so the test runs what each row says.
std::vector<std::vector<std::string>> troubleshooting_rows()
{
    const std::string source = __FILE__;
    std::ifstream guide(source.substr(0, source.rfind("/tests/")) + "/docs/raspberry-pi.md");
    std::vector<std::vector<std::string>> rows;
    std::string line;
    bool inside = false;
    while (std::getline(guide, line)) {
        if (line.rfind('#', 0) == 0)
            inside = line == "## Troubleshooting the wiring";
        else if (inside && line.rfind("| `", 0) == 0 &&
                 line.find("WPISIM_WIRING") == std::string::npos)
            rows.push_back(cells(line)); // a row, not the heading
    }
    return rows;
}

TEST(BoardWiring, TroubleshootingTableMatchesRunsWithEachFault)
{
    REQUIRE_BOARD();
    const auto rows = troubleshooting_rows();
    ASSERT_EQ(rows.size(), 7U) << "the Pi guide's troubleshooting table not found";
    const std::regex quoted("`([^`]*)`");
    for (const auto &row : rows) {
        ASSERT_GE(row.size(), 5U);
        std::smatch fault;
        ASSERT_TRUE(std::regex_search(row[4], fault, quoted)) << row[4];
        SCOPED_TRACE(fault[1].str());
        std::vector<std::string> shown;
        for (std::sregex_iterator m(row[0].begin(), row[0].end(), quoted), end; m != end; ++m)
            shown.push_back((*m)[1]);
        const bool ends = row[0].find("then ends") != std::string::npos;
        const bool lit = row[1].find("on") != std::string::npos;

        Sandbox box;
        auto run = virtual_run(box, "parley").input("a\nc\n").env("WPISIM_WIRING", fault[1]);
        // Ctrl-C as the exchange after the ones the row shows is due.
        if (!ends)
            run.env("WPISIM_INTERRUPT_AT", std::to_string(shown.size() + 1));
        const auto r = run.run();
        std::vector<std::string> printed;
        for (const auto &pair : harness::reply_pairs(r.out))
            printed.push_back(od_c(pair));
        EXPECT_EQ(printed, shown);
        if (ends)
            EXPECT_EQ(r.status, 0);
        else
            EXPECT_EQ(r.signal, SIGINT) << "a run with no stop byte ended by itself";
        // D5 and D6 after the last exchange, whether the board took part or not.
        auto states = harness::only(box.calls(), "wiring");
        if (states.empty())
            states = harness::only(box.calls(), "board");
        ASSERT_FALSE(states.empty());
        const std::string level = lit ? "255" : "0";
        EXPECT_EQ(states.back().at("d5"), level);
        EXPECT_EQ(states.back().at("d6"), level);
    }
}

// The bytes sigrok's SPI decoder finds on one data line of a VCD trace;
// anything else it prints is kept in brackets, so a mismatch shows it.
std::string decoded_bytes(const std::string &output)
{
    std::string bytes;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string tag = "spi-1: ";
        char *end = nullptr;
        const unsigned long value =
            line.rfind(tag, 0) == 0 ? std::strtoul(line.c_str() + tag.size(), &end, 16) : 0;
        if (end != nullptr && *end == '\0' && value < 256)
            bytes += static_cast<char>(value);
        else
            bytes += "[" + line + "]";
    }
    return bytes;
}

// The mean SCLK period within each CE0-low window, from the trace's value
// changes, and the level SCLK has as the chip select falls and rises.
struct Sclk {
    std::vector<double> periods;
    std::string idle;
    double first = 0;
    double last = 0;
    int edges = 0;
    char level = '0';
    std::map<std::string, char> selects; // each chip select's level

    void change(const std::string &name, char value, double now)
    {
        const bool ce = name == "CE0" || name == "CE1";
        if (ce && selects.count(name) != 0 && selects[name] != value)
            idle += level;
        if (ce)
            selects[name] = value;
        if (ce && value == '0')
            edges = 0;
        if (ce && value == '1' && edges > 1)
            periods.push_back((last - first) / (edges - 1));
        if (name == "SCLK")
            level = value;
        if (name == "SCLK" && value == '1') {
            first = edges == 0 ? now : first;
            last = now;
            ++edges;
        }
    }
};

// Each change of a one-bit wire in a VCD trace, in order: its name, the new
// value and when, in ns.
void for_each_change(const std::string &vcd,
                     const std::function<void(const std::string &, char, double)> &seen)
{
    std::ifstream in(vcd);
    std::map<std::string, std::string> names; // identifier -> signal
    std::string word;
    double unit_ns = 1;
    double now = 0;
    while (in >> word) {
        if (word == "$timescale") {
            std::string number;
            std::string scale;
            in >> number >> scale;
            unit_ns = std::stod(number) * (scale == "us" ? 1000 : 1);
        } else if (word == "$var") {
            std::string type;
            std::string width;
            std::string id;
            std::string name;
            in >> type >> width >> id >> name;
            names[id] = name;
        } else if (word[0] == '#') {
            now = std::stod(word.substr(1)) * unit_ns;
        } else if ((word[0] == '0' || word[0] == '1' || word[0] == 'x') &&
                   names.count(word.substr(1)) != 0) {
            seen(names[word.substr(1)], word[0], now);
        }
    }
}

// SCLK within each window of a VCD trace where CE0 or CE1 is low.
Sclk sclk_of(const std::string &vcd)
{
    Sclk sclk;
    for_each_change(vcd, [&](const std::string &name, char value, double now) {
        if (value != 'x')
            sclk.change(name, value, now);
    });
    return sclk;
}

// sigrok's SPI decoder set to the SPI mode finds in the trace the bytes of
// the call log, and each transfer is drawn at the clock it really ran at,
// SCLK idling at the mode's polarity.
void expect_trace_of(const std::string &vcd, const std::vector<harness::Call> &calls, int mode = 0)
{
    const auto transfers = harness::only(calls, "spi-transfer");
    ASSERT_FALSE(transfers.empty());
    // Each channel's transfers under its own chip select, as the Pi frames them.
    for (const char *channel : {"0", "1"}) {
        std::string sent;
        std::string received;
        for (const auto &t : transfers)
            if (t.at("channel") == channel) {
                sent += t.bytes("out");
                received += t.bytes("in");
            }
        const std::string decode =
            "-I vcd -i '" + vcd + "' -P spi:clk=SCLK:mosi=MOSI:miso=MISO:cs=CE" + channel +
            ":cpol=" + std::to_string(mode >> 1) + ":cpha=" + std::to_string(mode & 1) + " -A spi=";
        std::string mosi;
        std::string miso;
        ASSERT_TRUE(tool_output(SIGROK_CLI, decode + "mosi-data", mosi));
        ASSERT_TRUE(tool_output(SIGROK_CLI, decode + "miso-data", miso));
        EXPECT_EQ(decoded_bytes(mosi), sent) << "CE" << channel;
        EXPECT_EQ(decoded_bytes(miso), received) << "CE" << channel;
    }
    const Sclk sclk = sclk_of(vcd);
    ASSERT_EQ(sclk.periods.size(), transfers.size());
    for (std::size_t i = 0; i < sclk.periods.size(); ++i) {
        const auto bit_ns = static_cast<double>(transfers[i].num("bit_ns"));
        EXPECT_NEAR(sclk.periods[i], bit_ns, bit_ns / 1000) << "transfer " << i + 1;
    }
    EXPECT_EQ(sclk.idle, std::string(2 * transfers.size(), mode >= 2 ? '1' : '0'));
}

TEST(BusTrace, SigrokDecodesTheTraceIntoTheBytesOfTheCallLog)
{
    REQUIRE_BOARD();
    REQUIRE_TOOL(SIGROK_CLI);
    struct Case {
        int mode;
        std::vector<std::string> probe; // calls of library_probe; none for parley
    };
    const Case cases[] = {
        {0, {}},
        // SCLK idling high; the board's slave, in mode 0, samples on the same edge.
        {3,
         {"spi-mode", "0", "5000", "3", "transfer", "0", "6163", "delay", "510", "transfer", "0",
          "6163", "delay", "510", "transfer", "0", "6163"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        Sandbox box;
        const std::string vcd = box.dir() + "/bus.vcd";
        // A clock that moves between exchanges, so the trace must follow it.
        auto run = virtual_run(box, c.probe.empty() ? "parley" : "library_probe")
                       .env("WPISIM_TRACE", vcd)
                       .env("WPISIM_PI", "pi4")
                       .env("WPISIM_CORE", "li");
        const auto r = c.probe.empty() ? run.input("a\nc\n").run() : run.args(c.probe).run();
        ASSERT_EQ(r.status, 0) << r.err;
        const auto transfers = harness::only(box.calls(), "spi-transfer");
        ASSERT_EQ(transfers.size(), 3U);
        EXPECT_EQ(transfers.back().bytes("in"), "i3");
        expect_trace_of(vcd, box.calls(), c.mode);
    }
}

// A run holds its trace: one tracing to the same file meanwhile is refused,
// and the holder's transfers, at 5 kHz and 1 MHz on two channels, all decode.
TEST(BusTrace, ARunHoldsItsTraceAndDrawsEachChannelAtItsOwnClock)
{
    REQUIRE_TOOL(SIGROK_CLI);
    Sandbox holder;
    Sandbox other;
    const std::string vcd = holder.dir() + "/bus.vcd";
    const std::string refused_done = holder.dir() + "/refused";
    auto held = std::async(std::launch::async, [&] {
        return holder.program("library_probe")
            .args({"spi-setup", "0", "5000", "spi-setup", "1", "1000000", "transfer", "0", "6162",
                   "delay", "300", "transfer", "1", "6364", "await", refused_done, "transfer", "0",
                   "6566"})
            .env("WPISIM_PEER", "loopback")
            .env("WPISIM_TRACE", vcd)
            .run();
    });
    // The holder has the file once its header is written, and holds it
    // until the other run has been refused.
    EXPECT_TRUE(harness::eventually([&] { return fs::exists(vcd) && fs::file_size(vcd) > 0; }));
    const auto refused = other.program("library_probe")
                             .args({"spi-setup", "0", "5000", "transfer", "0", "7777"})
                             .env("WPISIM_PEER", "loopback")
                             .env("WPISIM_TRACE", vcd)
                             .run();
    EXPECT_EQ(refused.err, "wpisim: WPISIM_TRACE=\"" + vcd + "\": another run is tracing to it\n");
    EXPECT_EQ(refused.status, 2);
    std::ofstream(refused_done).put('\n');
    const auto r = held.get();
    EXPECT_EQ(r.out, "0 0\n0 0\n2 0 6162\n2 0 6364\n2 0 6566\n");
    expect_trace_of(vcd, holder.calls());
}

// One wire of a VCD trace: when it changed, in ns, and to what; of changes
// at one time the last, as a reader takes them.
std::vector<std::pair<long long, char>> wire_of(const std::string &vcd, const std::string &wire)
{
    std::vector<std::pair<long long, char>> changes;
    for_each_change(vcd, [&](const std::string &name, char value, double at) {
        if (name != wire)
            return;
        const long long now = std::llround(at);
        if (!changes.empty() && changes.back().first == now)
            changes.pop_back();
        if (changes.empty() || changes.back().second != value)
            changes.emplace_back(now, value);
    });
    return changes;
}

// A traced GPIO changes where the virtual clock stood: the program's own
// writes, outside drives at their scheduled times, and a write as a transfer
// ends beside that transfer's chip select.
TEST(PinTrace, TracedPinsChangeAtTheirVirtualTimes)
{
    using Changes = std::vector<std::pair<long long, char>>;
    struct Case {
        const char *name;
        std::vector<std::vector<std::string>> drives; // wpisim pin GPIO LEVEL --at MS
        std::vector<std::string> probe;
        std::vector<std::pair<std::string, Changes>> wires;
    };
    const Case cases[] = {
        {"blink",
         {},
         {"setup", "gpio", "mode", "17",    "1",  "write", "17", "1", "delay", "10",
          "write", "17",   "0",    "delay", "10", "write", "17", "1", "delay", "5"},
         {{"GPIO17", {{0, '1'}, {10000000, '0'}, {20000000, '1'}}}, {"GPIO27", {{0, '0'}}}}},
        {"outside drives",
         {{"17", "high", "5"}, {"17", "low", "7"}},
         {"setup", "gpio", "mode", "17", "0", "delay", "20"},
         {{"GPIO17", {{0, '0'}, {5000000, '1'}, {7000000, '0'}}}}},
        {"a write as a transfer ends",
         {},
         {"setup", "gpio", "mode", "17", "1", "spi-setup", "0", "5000", "transfer", "0", "6162",
          "write", "17", "1", "delay", "1"},
         {{"GPIO17", {{0, '0'}, {3200000, '1'}}}, {"CE0", {{0, '0'}, {3300000, '1'}}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        for (const auto &d : c.drives)
            ASSERT_EQ(box.program("wpisim").args({"pin", d[0], d[1], "--at", d[2]}).run().status,
                      0);
        const std::string vcd = box.dir() + "/pins.vcd";
        const auto r = virtual_run(box, "library_probe")
                           .args(c.probe)
                           .env("WPISIM_PEER", "loopback")
                           .env("WPISIM_TRACE", vcd)
                           .env("WPISIM_TRACE_PINS", "17,27")
                           .run();
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto &[wire, changes] : c.wires)
            EXPECT_EQ(wire_of(vcd, wire), changes) << wire;
    }
}

// In wall time a scheduled drive is applied when the program next looks at
// the clock, but drawn at its own time, before what the trace already holds.
TEST(PinTrace, AnEdgeSeenLateIsDrawnAtItsOwnTime)
{
    Sandbox box;
    ASSERT_EQ(box.program("wpisim").args({"pin", "17", "high", "--at", "5"}).run().status, 0);
    const std::string vcd = box.dir() + "/pins.vcd";
    const auto r = box.program("library_probe")
                       .args({"setup", "gpio", "mode", "17", "0", "mode", "27", "1", "delay", "30",
                              "write", "27", "1", "micros"})
                       .env("WPISIM_TRACE", vcd)
                       .env("WPISIM_TRACE_PINS", "17,27")
                       .run();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rises = wire_of(vcd, "GPIO17");
    ASSERT_FALSE(rises.empty());
    EXPECT_EQ(rises.back().second, '1');
    const auto written = wire_of(vcd, "GPIO27");
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back().second, '1');
    EXPECT_GE(written.back().first, 30000000);
    // Drawn at its own time, not where the program picked it up after its
    // 30 ms wait; how close to 5 ms is the machine's pace, not a guarantee.
    EXPECT_GE(rises.back().first, 5000000);
    EXPECT_LT(rises.back().first, written.back().first);
}

// sigrok's PWM decoder finds in the trace the wave the program set, in
// hardware and in software.
TEST(PinTrace, SigrokMeasuresAPwmAsTheProgramSetIt)
{
    REQUIRE_TOOL(SIGROK_CLI);
    struct Case {
        std::vector<std::string> probe;
        const char *gpio;
        const char *period;
        const char *duty;
    };
    const Case cases[] = {
        // 19.2 MHz / 192 / 100: 1 kHz, mark:space.
        {{"setup", "gpio", "mode", "18", "2", "pwm-mode", "0", "pwm-range", "100", "pwm-clock",
          "192", "pwm", "18", "25", "delay", "30"},
         "18",
         "1000.0 μs",
         "25.000000%"},
        // 20 steps of 100 us, 5 of them high.
        {{"setup", "gpio", "soft-pwm", "17", "5", "20", "delay", "50"},
         "17",
         "2.0 ms",
         "25.000000%"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("GPIO") + c.gpio);
        Sandbox box;
        const std::string vcd = box.dir() + "/pwm.vcd";
        const auto r = virtual_run(box, "library_probe")
                           .args(c.probe)
                           .env("WPISIM_TRACE", vcd)
                           .env("WPISIM_TRACE_PINS", c.gpio)
                           .run();
        ASSERT_EQ(r.status, 0) << r.err;
        std::string output;
        ASSERT_TRUE(tool_output(SIGROK_CLI,
                                "-I vcd -i '" + vcd + "' -P pwm:data=GPIO" + c.gpio +
                                    " -A pwm=duty-cycle:period",
                                output));
        // The wave settles once set-up is done; the last periods are all its own.
        std::vector<std::string> periods;
        std::vector<std::string> duties;
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);)
            (line.back() == '%' ? duties : periods).push_back(line);
        ASSERT_TRUE(periods.size() >= 15 && duties.size() >= 15) << output;
        for (std::size_t i = periods.size() - 15; i < periods.size(); ++i)
            EXPECT_EQ(periods[i], std::string("pwm-1: ") + c.period);
        for (std::size_t i = duties.size() - 15; i < duties.size(); ++i)
            EXPECT_EQ(duties[i], std::string("pwm-1: ") + c.duty);
    }
}

} // namespace
