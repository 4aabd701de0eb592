// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The bench file as a user meets it through wpisim: check's errors, each on
// its line, the settings it feeds a run, and wire's edits of its text.

#include "harness/sandbox.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace
{

void write(const harness::Sandbox &box, const std::string &name, const std::string &text)
{
    std::ofstream(box.dir() + "/" + name, std::ios::binary) << text;
}

std::string read(const harness::Sandbox &box, const std::string &name)
{
    std::ifstream in(box.dir() + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char two_boards[] = "[[board]]\nname = \"uno\"\nspi = \"ce0\"\ni2c = 0x08\n"
                          "[[board]]\nname = \"mega\"\nkind = \"mega\"\ni2c = 0x09\n";

TEST(BenchFile, CheckSaysEachErrorOnItsLine)
{
    struct Row {
        std::string file;
        const char *error; // LINE: what
    };
    const Row rows[] = {
        {"[pi]\nmodel = \"pi4\n",
         "2: Error while parsing string: unescaped control characters other than TAB (U+0009) "
         "are explicitly prohibited"},
        {"# a typo\n[pis]\n", "2: unknown table \"pis\" (pi, board, wire)"},
        {"[pi]\nmodle = \"pi3\"\n",
         "2: unknown key \"modle\" in [pi] (model, time, trace, trace_pins, i2c_hz)"},
        {"[[board]]\nname = \"uno\"\ni2c = \"8\"\n", "3: i2c: wants an integer"},
        {"[pi]\nmodel = \"pi9\"\n",
         "2: model \"pi9\": not a Pi model (pi1-rev1, pi1, pi2, pi3, zero, zero2w, pi4, pi5)"},
        {"[pi]\ntime = \"slow\"\n", "2: time \"slow\": not wall or virtual"},
        {"[pi]\ni2c_hz = 999\n", "2: i2c_hz 999: not a clock in Hz (1000 to 3400000)"},
        {"[[board]]\nkind = \"due\"\n",
         "2: kind \"due\": not a kind of board (uno, nano, pro-mini, pro-mini-8mhz, mega)"},
        {"[[board]]\nfirmware = \"none.hex\"\n",
         "2: firmware \"none.hex\": No such file or directory"},
        {"[[board]]\nname = \"a\"\n[[board]]\nname = \"a\"\n",
         "4: board \"a\" is named twice (also on line 1)"},
        {"[[board]]\nname = \"a\"\nspi = \"ce1\"\n[[board]]\nname = \"b\"\nspi = \"ce1\"\n",
         "6: ce1 is taken by board \"a\" (line 1)"},
        {std::string(two_boards) + "[[board]]\nname = \"nano\"\ni2c = 0x09\n",
         "11: I2C address 0x09 is taken by board \"mega\" (line 5)"},
        {"[[board]]\nname = \"a\"\nserial = \"uart\"\n[[board]]\nname = \"b\"\nserial = "
         "\"uart\"\n",
         "6: the Pi's UART is taken by board \"a\" (line 1)"},
        {std::string(two_boards) + "[[wire]]\npi = 17\nboard = \"due\"\npin = \"D2\"\n",
         "11: board \"due\": no such board (uno, mega)"},
        {std::string(two_boards) + "[[wire]]\npi = 17\npin = \"D2\"\n",
         "9: [[wire]] needs board: the bench has 2 boards"},
        {"[[wire]]\npi = 17\npin = \"D2\"\n[[wire]]\npi = 17\npin = \"D3\"\n",
         "5: GPIO 17 is wired twice (also on line 1)"},
        // PD2 is D2 on an Uno.
        {"[[wire]]\npi = 17\npin = \"D2\"\n[[wire]]\npi = 18\npin = \"PD2\"\n",
         "6: board's D2 is wired twice (also on line 1)"},
        {"[[wire]]\npi = 17\npin = \"D14\"\n",
         "3: pin \"D14\": not a pin of the uno (D0 to D13, A0 to A5, or a port pin such as PD2)"},
        {"[[wire]]\npi = 17\npin = \"D13\"\n",
         R"(3: pin "D13": the board's SPI SCK, in use (spi = "ce0"))"},
        {std::string(two_boards) + "[[wire]]\npi = 17\nboard = \"mega\"\npin = \"D21\"\n",
         "12: pin \"D21\": the mega's I2C SCL, in use (i2c = 0x09)"},
        {"[[board]]\nserial = \"uart\"\n[[wire]]\npi = 17\npin = \"D0\"\n",
         R"(5: pin "D0": the board's UART RX, in use (serial = "uart"))"},
        {"[[wire]]\npi = 10\npin = \"D2\"\n", "2: pi 10: the Pi's MOSI, in use by board \"board\""},
        {std::string(two_boards) + "[[wire]]\npi = 3\nboard = \"uno\"\npin = \"D2\"\n",
         "10: pi 3: the Pi's SCL.1, in use by board \"uno\" (line 1)"},
        // The first Model B has GPIO 21 where later ones have 27.
        {"[pi]\nmodel = \"pi1-rev1\"\n[[wire]]\npi = 27\npin = \"D2\"\n",
         "4: pi 27: not on the header of a pi1-rev1"},
        {"[pi]\ntrace_pins = [17, 17]\n", "2: trace_pins \"17,17\": GPIO 17 is named twice"},
    };
    for (const Row &row : rows) {
        harness::Sandbox box;
        write(box, "wpisim.toml", row.file);
        const auto r = box.script("$WPISIM check").run();
        EXPECT_EQ(r.out, "wpisim.toml:" + std::string(row.error) + "\n") << row.file;
        EXPECT_EQ(r.status, 1) << row.file;
    }
}

TEST(BenchFile, CheckSummarisesAGoodFile)
{
    harness::Sandbox box;
    write(box, "bench.toml",
          "[pi]\nmodel = \"pi3\"\ntime = \"virtual\"\ni2c_hz = 400000\n\n" +
              std::string(two_boards) +
              "serial = \"usb\"\n[[board]]\nname = \"small\"\nkind = \"pro-mini-8mhz\"\n"
              "serial = \"uart\"\n[[wire]]\npi = 17\nboard = \"mega\"\npin = \"PE4\"\n"
              "divider = true\n");
    const auto r = box.script("$WPISIM check bench.toml").run();
    EXPECT_EQ(r.out, "bench.toml: good\n"
                     "pi: pi3, virtual time, I2C at 400000 Hz\n"
                     "board uno: uno (ATmega328P, 5 V), SPI ce0, I2C 0x08, firmware as flashed\n"
                     "board mega: mega (ATmega2560, 5 V), I2C 0x09, serial usb, firmware as "
                     "flashed\n"
                     "board small: pro-mini-8mhz (ATmega328P, 3.3 V), serial uart, firmware as "
                     "flashed\n"
                     "wire: GPIO 17 to mega PE4 (D2), through a divider\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(BenchFile, TheFileFeedsARunAndAVariableOverridesIt)
{
    struct Row {
        const char *file;
        const char *script;
        const char *out;
        const char *err;
    };
    const Row rows[] = {
        {"[pi]\nmodel = \"pi3\"\n", "$BOARD_PROBE id | grep -o 'Pi 3,'", "Pi 3,\n", ""},
        {"[pi]\nmodel = \"pi3\"\n", "WPISIM_PI=pi5 $BOARD_PROBE id | grep -o 'Pi 5,'", "Pi 5,\n",
         ""},
        {"[pi]\nmodel = \"pi3\"\n",
         "mkdir sub && cd sub && WPISIM_BENCH=../wpisim.toml $BOARD_PROBE id | grep -o 'Pi 3,'",
         "Pi 3,\n", ""},
        {"[pi]\n\nmodel = \"pi0\"\n", "$BOARD_PROBE id", "",
         "wpisim: wpisim.toml:3: model \"pi0\": not a Pi model (pi1-rev1, pi1, pi2, pi3, zero, "
         "zero2w, pi4, pi5)\n"},
        {"", "WPISIM_BENCH=none.toml $BOARD_PROBE id", "",
         "wpisim: WPISIM_BENCH=\"none.toml\": No such file or directory\n"},
    };
    for (const Row &row : rows) {
        harness::Sandbox box;
        if (*row.file != '\0')
            write(box, "wpisim.toml", row.file);
        const auto r = box.script(row.script).run();
        EXPECT_EQ(r.out, row.out) << row.script;
        EXPECT_EQ(r.err, row.err) << row.script;
    }
}

TEST(BenchFile, WireEditsTheTextAndRefusesAnEditThatWouldNotCheck)
{
    harness::Sandbox box;
    const std::string original = "# the bench on my desk\n[pi]\nmodel = \"pi4\" # as bought\n\n"
                                 "[[wire]]\npi = 17\npin = \"D2\"\n";
    write(box, "wpisim.toml", original);
    auto r = box.script("$WPISIM wire 18 board:D3 --divider").run();
    EXPECT_EQ(r.out, "wire: GPIO 17 to board D2\nwire: GPIO 18 to board D3, through a divider\n");
    EXPECT_EQ(read(box, "wpisim.toml"),
              original + "\n[[wire]]\npi = 18\nboard = \"board\"\npin = \"D3\"\ndivider = true\n");
    r = box.script("$WPISIM wire --remove 18").run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read(box, "wpisim.toml"), original);
    // D2 is taken: the file stays as it was, byte for byte.
    r = box.script("$WPISIM wire 22 board:D2").run();
    EXPECT_EQ(r.err, "wpisim: wire: \"wpisim.toml\" would have errors; it was left as it is:\n"
                     "wpisim.toml:12: board's D2 is wired twice (also on line 5)\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read(box, "wpisim.toml"), original);
    r = box.script("$WPISIM wire --remove 17 && $WPISIM wire").run();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read(box, "wpisim.toml"),
              "# the bench on my desk\n[pi]\nmodel = \"pi4\" # as bought\n");
}

} // namespace
