// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// A user's own firmware on the bench, built as Arduino users build it, on
// the board they have: flashed with wpisim, watched on its serial port.

#include "harness/parley_text.hpp"
#include "harness/probe_text.hpp"
#include "harness/sandbox.hpp"
#include "simulated_board.hpp"
#include "suite_tool.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <thread>
#include <unistd.h>

using harness::probe_replies;
using harness::Sandbox;

namespace
{

// Sketches this build made, by Debian's Arduino core (our rule and arduino-mk).
constexpr const char *user_uno_hex = USER_SKETCH_UNO_HEX;
constexpr const char *user_mega_elf = USER_SKETCH_MEGA_ELF;
constexpr const char *user_mk_hex = USER_SKETCH_MK_HEX;
constexpr const char *user_mk_elf = USER_SKETCH_MK_ELF;
constexpr const char *reference_sketch_hex = REFERENCE_SKETCH_HEX;
constexpr const char *reference_mk_hex = REFERENCE_SKETCH_MK_HEX;
constexpr const char *modes_sketch_hex = MODES_SKETCH_HEX;

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

harness::Outcome wpisim(const Sandbox &box, std::vector<std::string> args,
                        const std::string &firmware_setting = "")
{
    return harness::ProgramRun(box.command("wpisim"))
        .args(std::move(args))
        .without_env("WPISIM_")
        .env("WPISIM_STATE_DIR", box.state_dir())
        .env("WPISIM_FIRMWARE", firmware_setting)
        .run();
}

// The N of wpisim flash's "…: N bytes of flash written", or -1.
long flashed_bytes(const harness::Outcome &r)
{
    const std::string tail = " bytes of flash written\n";
    const std::size_t end = r.out.size() - std::min(r.out.size(), tail.size());
    const std::size_t start = r.out.rfind(": ", end);
    if (r.status != 0 || r.out.compare(end, tail.size(), tail) != 0 || start == std::string::npos)
        return -1;
    return std::stol(r.out.substr(start + 2, end - start - 2));
}

// A HEX with a bootloader merged in, as the IDE's "with bootloader" export:
// four bytes at 0x7e00 and its start address record before the end.
std::string with_bootloader(const Sandbox &files, const char *hex_path)
{
    std::string merged = files.dir() + "/with_bootloader.hex";
    std::string hex = read_file(hex_path);
    hex.insert(hex.rfind(":00000001FF"), ":047E0000FFCFFFCFE2\r\n:0400000300007E007B\r\n");
    std::ofstream(merged, std::ios::binary) << hex;
    return merged;
}

// Two exchanges a simulated second apart, or gap_ms, on the virtual clock.
harness::ProgramRun two_exchanges(const Sandbox &box, long gap_ms = 1000)
{
    return box.program("library_probe")
        .args({"spi-setup", "0", "5000", "transfer", "0", "6163", "delay", std::to_string(gap_ms),
               "transfer", "0", "6163"})
        .env("WPISIM_TIME", "virtual");
}

// Host CPU seconds a process has used: utime and stime, the 12th and 13th
// fields after the command's closing parenthesis.
double cpu_seconds(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i >= 12)
            ticks += std::stol(field);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST(OwnBoard, AUserSketchRunsAsEachToolBuildsItOnTheBoardItWasBuiltFor)
{
    REQUIRE_BOARD();
    const Sandbox files;
    const std::string merged = with_bootloader(files, user_uno_hex);
    struct Case {
        const char *what;
        std::string file;
        const char *board;
        long hz; // the clock the board log shows
    };
    for (const Case &c : {Case{"HEX for an Uno", user_uno_hex, "uno", 16000000},
                          Case{"HEX with a bootloader", merged, "uno", 16000000},
                          Case{"arduino-mk's HEX", user_mk_hex, "uno", 16000000},
                          Case{"arduino-mk's ELF", user_mk_elf, "uno", 16000000},
                          Case{"ELF for a Mega", user_mega_elf, "mega", 16000000},
                          Case{"on an 8 MHz Pro Mini", user_uno_hex, "pro-mini-8mhz", 8000000}}) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        const auto r =
            two_exchanges(box).env("WPISIM_FIRMWARE", c.file).env("WPISIM_BOARD", c.board).run();
        ASSERT_EQ(r.status, 0) << r.err;
        // The sketch answers every byte with its reply byte, 'r'.
        EXPECT_EQ(probe_replies(r), (std::vector<std::string>{"rr", "rr"}));
        const auto boards = harness::only(box.calls(), "board");
        ASSERT_EQ(boards.size(), 2U);
        EXPECT_EQ(boards[1].num("hz"), c.hz);
        // Cycles per simulated second: the board's clock, not the sketch's.
        EXPECT_NEAR(static_cast<double>(boards[1].num("cycle") - boards[0].num("cycle")),
                    static_cast<double>(c.hz), c.hz * 0.01);
        const std::string serial = read_file(box.state_dir() + "/serial.log");
        EXPECT_EQ(serial.rfind("spi_slave ready\r\nreceived 61\r\nreceived 63\r\n", 0), 0U)
            << serial;
    }
}

// The Pi's SPI mode against the one a sketch sets, every pair: the bytes
// the sketch receives (on its serial port) and those the Pi reads, for 0xca
// 0xb5 sent and 0x69 0x3d answered. Where both sample on the same edge
// (rising in modes 0 and 3, falling in 1 and 2) nothing changes; else, with
// the Pi's CPHA 0 both sides get their bytes a bit off (the sketch shifted
// left, the next byte's MSB last; the Pi shifted right, the MSB twice), and
// with CPHA 1 the Pi's last bit of each byte is the MSB of the sketch's next.
TEST(OwnBoard, EachPairOfSpiModesGivesBothSidesWhatTheWiresCarry)
{
    REQUIRE_BOARD();
    struct Case {
        const char *pi;
        const char *sketch;
        const char *pi_reads;
        const char *sketch_got;
    };
    const char *const as_sent = "got CA\r\ngot B5\r\n";
    const char *const shifted = "got 95\r\ngot 6B\r\n";
    const Case cases[] = {
        {"0", "0", "693d", as_sent}, {"0", "1", "341e", shifted}, {"0", "2", "341e", shifted},
        {"0", "3", "693d", as_sent}, {"1", "0", "683c", as_sent}, {"1", "1", "693d", as_sent},
        {"1", "2", "693d", as_sent}, {"1", "3", "683c", as_sent}, {"2", "0", "341e", shifted},
        {"2", "1", "693d", as_sent}, {"2", "2", "693d", as_sent}, {"2", "3", "341e", shifted},
        {"3", "0", "693d", as_sent}, {"3", "1", "683c", as_sent}, {"3", "2", "683c", as_sent},
        {"3", "3", "693d", as_sent},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("Pi in mode ") + c.pi + ", sketch in mode " + c.sketch);
        Sandbox box;
        // The sketch's mode, sent in mode 0; the exchange in the Pi's; then
        // time for the sketch to print what it got.
        const auto r = box.program("library_probe")
                           .args({"spi-mode",
                                  "0",
                                  "5000",
                                  "0",
                                  "transfer",
                                  "0",
                                  std::string("0") + c.sketch,
                                  "delay",
                                  "10",
                                  "spi-mode",
                                  "0",
                                  "5000",
                                  c.pi,
                                  "transfer",
                                  "0",
                                  "cab5",
                                  "delay",
                                  "20",
                                  "transfer",
                                  "0",
                                  "00"})
                           .env("WPISIM_TIME", "virtual")
                           .env("WPISIM_FIRMWARE", modes_sketch_hex)
                           .run();
        ASSERT_EQ(r.status, 0) << r.err;
        // The only two-byte transfer.
        EXPECT_NE(r.out.find(std::string("\n2 0 ") + c.pi_reads + "\n"), std::string::npos)
            << r.out;
        const std::string serial = read_file(box.state_dir() + "/serial.log");
        const std::string shown = std::string("ready\r\nmode ") + c.sketch + "\r\n" + c.sketch_got;
        EXPECT_EQ(serial.rfind(shown, 0), 0U) << serial;
    }
}

TEST(OwnBoard, FlashSaysTheBytesTheFirmwareTakesInFlashHoweverTheFileIsWritten)
{
    REQUIRE_BOARD();
    const Sandbox files;
    // One build's HEX with the line ends editors and other tools leave.
    auto ending = [&files](const std::string &end) {
        std::istringstream lines(read_file(user_mk_hex));
        std::string hex;
        for (std::string line; std::getline(lines, line);)
            hex += line.substr(0, line.find('\r')) + end;
        std::string path = files.dir() + "/" + std::to_string(hex.size()) + ".hex";
        std::ofstream(path, std::ios::binary) << hex;
        return path;
    };
    struct Case {
        const char *what;
        std::string file;
        long more; // bytes beyond the ELF's .text and .data
    };
    const Case cases[] = {
        {"its HEX", user_mk_hex, 0},
        {"LF line ends", ending("\n"), 0},
        {"a blank before each CRLF", ending(" \r\n"), 0},
        {"tabs and a CR before each LF", ending("\t\t\r\r\n"), 0},
        {"a bootloader merged in", with_bootloader(files, user_mk_hex), 4},
    };
    const Sandbox elf_box;
    const long elf = flashed_bytes(wpisim(elf_box, {"flash", user_mk_elf}));
    ASSERT_GT(elf, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Sandbox box;
        const auto r = wpisim(box, {"flash", c.file});
        EXPECT_EQ(flashed_bytes(r), elf + c.more) << r.out << r.err;
    }
}

TEST(OwnBoard, ALongSimulatedGapIsWaitedForHoweverLongItTakesToRun)
{
    REQUIRE_BOARD();
    // A sketch's loop() never sleeps: every simulated second costs host
    // time, which the run must wait for while the board says it is working.
    constexpr double silence_limit_s = 5;
    Sandbox box;
    auto apart = [&](long gap_ms) {
        return two_exchanges(box, gap_ms).env("WPISIM_FIRMWARE", user_uno_hex);
    };
    // Every run may wait long on a loaded machine: the board's CPU time, not
    // the wall clock, is what is measured.
    constexpr int run_limit_ms = 120000;
    const auto first = apart(0).timeout_ms(run_limit_ms).run();
    ASSERT_EQ(first.status, 0) << first.err;
    const pid_t pid = board_pid(box);
    double before = cpu_seconds(pid);
    const auto measured = apart(1000).timeout_ms(run_limit_ms).run();
    ASSERT_EQ(measured.status, 0) << measured.err;
    double per_second = cpu_seconds(pid) - before;
    ASSERT_GT(per_second, 0);
    // Long enough that running it outlasts the limit on a board kept silent.
    // What a simulated second costs varies with the machine's load, so a gap
    // that fell short of the limit is measured again at its own cost: every
    // run must end well, and one of them must have outlasted the limit.
    double spent = 0;
    for (int attempt = 0; attempt < 3 && spent <= silence_limit_s; ++attempt) {
        const long gap_ms = std::lround(1.5 * silence_limit_s / per_second * 1000);
        before = cpu_seconds(pid);
        const auto r = apart(gap_ms).timeout_ms(run_limit_ms).run();
        ASSERT_EQ(r.status, 0) << r.err << "a gap of " << gap_ms << " ms";
        EXPECT_EQ(probe_replies(r), (std::vector<std::string>{"rr", "rr"}));
        spent = cpu_seconds(pid) - before;
        per_second = spent / (static_cast<double>(gap_ms) / 1000);
    }
    EXPECT_GT(spent, silence_limit_s);
}

TEST(OwnBoard, TheReferenceFirmwareAnswersTheSameAsAnArduinoSketch)
{
    REQUIRE_BOARD();
    struct Case {
        const char *typed;
        std::vector<std::string> replies;
    };
    const Case cases[] = {
        {"a c", {"w0", "f3", "i3"}},
        {"a d", {"w0", "f1", "i1"}},
        {"b d", {"w0", "i0"}},
        {"x y", {"w0", "i?"}},
    };
    for (const char *firmware : {built_firmware_elf, reference_sketch_hex, reference_mk_hex}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(firmware) + " typed " + c.typed);
            Sandbox box;
            const auto r = box.program("parley")
                               .input(c.typed)
                               .env("WPISIM_TIME", "virtual")
                               .env("WPISIM_FIRMWARE", firmware)
                               .run();
            EXPECT_EQ(harness::reply_pairs(r.out), c.replies);
            EXPECT_EQ(r.status, 0) << r.err;
        }
    }
}

TEST(OwnBoard, StatusNamesTheFirmwareRunsUseBeforeTheFlash)
{
    REQUIRE_BOARD();
    const std::string missing = "/nonexistent/sketch.hex";
    const std::string with_setting = "firmware: WPISIM_FIRMWARE=\"";
    const std::string reference = "flash: the reference firmware this build made, \"" +
                                  std::string(built_firmware_elf) + "\"";
    struct Case {
        std::string setting;            // WPISIM_FIRMWARE
        const char *flashed;            // nothing when null
        std::vector<std::string> lines; // how lines start, in order
    };
    const Case cases[] = {
        {"", nullptr, {reference}},
        {"", user_mk_hex, {"flash: \"" + std::string(user_mk_hex) + "\", flashed "}},
        {missing,
         nullptr,
         {with_setting + missing +
              "\", for runs with this setting, which refuse it: No such file or directory\n",
          reference}},
        {user_mega_elf,
         user_mk_hex,
         {with_setting + user_mega_elf +
              "\", for runs with this setting, which refuse it: built for the \"atmega2560\", not "
              "for the ATmega328P\n",
          "flash: \""}},
        {user_uno_hex, nullptr, {with_setting + user_uno_hex + "\", for runs with this setting\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("WPISIM_FIRMWARE=" + c.setting);
        const Sandbox box;
        if (c.flashed != nullptr) {
            ASSERT_EQ(wpisim(box, {"flash", c.flashed}).status, 0);
        }
        const auto r = wpisim(box, {"status"}, c.setting);
        EXPECT_EQ(r.status, 0) << r.err;
        std::size_t at = 0;
        for (const std::string &line : c.lines) {
            at = r.out.find("\n" + line, at);
            EXPECT_NE(at, std::string::npos) << line << " in\n" << r.out;
        }
        EXPECT_EQ(r.out.find("\nfirmware: ") != std::string::npos, !c.setting.empty()) << r.out;
    }
}

TEST(OwnBoard, AFlashStaysAcrossRunsAndResetsUntilTheNextFlash)
{
    REQUIRE_BOARD();
    Sandbox box;
    const std::string reference_hex =
        std::string(built_firmware_elf)
            .replace(std::string(built_firmware_elf).rfind(".elf"), 4, ".hex");
    auto replies = [&] { return probe_replies(two_exchanges(box).run()); };
    // avrdude's own words, with what the bench ignores said.
    const auto flashed = wpisim(box, {"flash", "-c", "arduino", "-P", "/dev/ttyACM0", "-p", "m328p",
                                      "-U", std::string("flash:w:") + user_uno_hex + ":i"});
    ASSERT_EQ(flashed.status, 0) << flashed.err;
    EXPECT_NE(flashed.err.find("ignored \"-c arduino -P /dev/ttyACM0\""), std::string::npos);
    EXPECT_EQ(replies(), (std::vector<std::string>{"rr", "rr"}));
    ASSERT_EQ(wpisim(box, {"reset"}).status, 0);
    EXPECT_EQ(replies(), (std::vector<std::string>{"rr", "rr"}));
    const auto status = wpisim(box, {"status"});
    EXPECT_NE(status.out.find(std::string("flash: \"") + user_uno_hex + "\", flashed "),
              std::string::npos)
        << status.out;
    // A file the board cannot run leaves the flash as it was.
    const auto refused = wpisim(box, {"flash", "--board", "mega", built_firmware_elf});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err.rfind("wpisim: \"", 0), 0U) << refused.err;
    EXPECT_EQ(replies(), (std::vector<std::string>{"rr", "rr"}));
    // The reference firmware's HEX puts the reference back: waiting, then
    // both outputs lit by the first exchange's "ac" a second later.
    ASSERT_EQ(wpisim(box, {"flash", reference_hex}).status, 0);
    EXPECT_EQ(replies(), (std::vector<std::string>{"w0", "w3"}));
}

TEST(OwnBoard, FlashReadsAvrdudesOptionsAsAvrdudeReadsThem)
{
    REQUIRE_BOARD();
    const Sandbox files;
    const std::string hex = files.dir() + "/a.hex";
    const std::string colon = files.dir() + "/c:d.hex";
    const std::string elf = files.dir() + "/m.elf";
    std::ofstream(hex, std::ios::binary) << read_file(user_uno_hex);
    std::ofstream(colon, std::ios::binary) << read_file(user_uno_hex);
    std::ofstream(elf, std::ios::binary) << read_file(user_mega_elf);
    const std::string uno = "flashed \"" + hex + "\" to the uno (ATmega328P): ";
    const std::string ignored = "wpisim: flash: ignored \"";
    const std::string why_ignored = "\": the bench needs no programmer, port or speed, and "
                                    "replaces the whole flash each time\n";
    const std::string takes = "(flash:w:FILE[:i|:e|:a])\n";
    auto usage = [](const std::string &why) {
        return "wpisim: usage: flash: " + why + " (wpisim flash --help)\n";
    };
    const std::string help = "Usage: wpisim flash ";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out; // how standard output starts; empty: nothing
        std::string err;
    };
    const Case cases[] = {
        // The Arduino IDE's own line: each value joined to its option.
        {{"-C/etc/avrdude.conf", "-v", "-patmega328p", "-carduino", "-P/dev/ttyACM0", "-b115200",
          "-D", "-Uflash:w:" + hex + ":i"},
         0,
         uno,
         ignored + "-C /etc/avrdude.conf -c arduino -P /dev/ttyACM0 -b 115200 -D" + why_ignored},
        {{"-vv", "-q", "-q", "-p", "ATmega328P", "-U", "flash:w:" + hex}, 0, uno, ""},
        {{"-U", hex}, 0, uno, ""},
        {{"-vpm2560", "-cwiring", "-Uflash:w:" + elf + ":e"},
         0,
         "flashed \"" + elf + "\" to the mega (ATmega2560): ",
         ignored + "-c wiring" + why_ignored},
        {{"-Uflash:w:" + colon + ":i"}, 0, "flashed \"" + colon + "\" to the uno", ""},
        {{"-n", "-U", hex}, 0, "checked \"" + hex + "\" for the uno (ATmega328P): ", ""},
        {{"-Uflash:w:" + hex + ":r"},
         2,
         "",
         "wpisim: -U \"flash:w:" + hex +
             ":r\": format r (raw binary), which the bench does not take: i (Intel HEX), e (ELF) "
             "or a (either)\n"},
        {{"-U", "flash:w:" + hex + ":h"},
         2,
         "",
         "wpisim: -U \"flash:w:" + hex +
             ":h\": format h (hexadecimal, for output only), which the bench does not take: i "
             "(Intel HEX), e (ELF) or a (either)\n"},
        {{"-U", "flash:w:" + colon},
         2,
         "",
         "wpisim: -U \"flash:w:" + colon +
             "\": format \"d.hex\" is not one of avrdude's; a file name with a colon needs its "
             "format, as in flash:w:FILE:a\n"},
        {{"-U", "flash:w:" + hex, "-U", "flash:w:" + colon + ":i"},
         2,
         "",
         usage("two files to flash, \"" + hex + "\" and \"" + colon +
               "\": the board has one flash")},
        {{hex, "-Uflash:w:" + colon + ":i"},
         2,
         "",
         usage("two files to flash, \"" + hex + "\" and \"" + colon +
               "\": the board has one flash")},
        {{"-U", hex, "-U", "eeprom:w:" + hex},
         2,
         "",
         "wpisim: -U \"eeprom:w:" + hex + "\": not the flash, the only memory the bench writes " +
             takes},
        {{"-U", "flash:r:" + hex + ":i"},
         2,
         "",
         "wpisim: -U \"flash:r:" + hex +
             ":i\": reads the flash, which the bench does not; it only writes it " + takes},
        {{"-t"}, 2, "", "wpisim: flash -t: avrdude's terminal mode is not on the bench\n"},
        {{"-vZ"}, 2, "", usage("\"-Z\" not understood")},
        {{"-U", hex, "-p"}, 2, "", usage("-p needs a value: PART")},
        {{"-p", "m328p", "-U"}, 2, "", usage("-U needs a value: flash:w:FILE[:FORMAT]")},
        {{"-U", hex, "-C"}, 2, "", usage("-C needs a value: CONFIG-FILE")},
        {{"-U", hex, "--board"}, 2, "", usage("--board needs a value: KIND")},
        {{"--help"}, 0, help, ""},
        {{"-h"}, 0, help, ""},
        {{"-v?"}, 0, help, ""},
    };
    for (const Case &c : cases) {
        std::string said;
        for (const std::string &a : c.args)
            said += " " + a;
        SCOPED_TRACE("wpisim flash" + said);
        const Sandbox box;
        std::vector<std::string> args{"flash"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = wpisim(box, args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(r.out.empty(), c.out.empty());
        EXPECT_EQ(r.err, c.err);
        // Only a file flashed is in the flash afterwards.
        const bool written = c.out.rfind("flashed ", 0) == 0;
        EXPECT_EQ(wpisim(box, {"status"}).out.find("\nflash: \"") != std::string::npos, written);
    }
}

TEST(OwnBoard, PicocomOnTheBoardsTerminalShowsTheSketchAndTypesToIt)
{
    REQUIRE_BOARD();
    REQUIRE_TOOL(PICOCOM);
    Sandbox box;
    ASSERT_EQ(wpisim(box, {"flash", user_uno_hex}).status, 0);
    ASSERT_EQ(wpisim(box, {"reset"}).status, 0);
    // A byte typed before the sketch's setup() has run would be lost.
    auto serial_has = [&box](const char *text) {
        return [&box, text] {
            return read_file(box.state_dir() + "/serial.log").find(text) != std::string::npos;
        };
    };
    ASSERT_TRUE(harness::eventually(serial_has("spi_slave ready")));
    // picocom types z, then shows what comes until it has shown the sketch's
    // lines for both of parley's bytes; only then is it ended, however slowly
    // the machine runs. Killed: it passes a SIGTERM on to its whole process
    // group, this test's included.
    const std::string both = "received 61\r\nreceived 63\r\n";
    auto picocom =
        harness::ProgramRun({PICOCOM, "-q", "-b", "9600", box.state_dir() + "/board.tty"})
            .input("z")
            .keep_input_open()
            .signal_when(
                [&both](const std::string &out) { return out.find(both) != std::string::npos; },
                SIGKILL);
    auto seen = std::async(std::launch::async, [&] { return picocom.run(); });
    // The sketch's answer to z is in its log once picocom has the port.
    EXPECT_TRUE(harness::eventually(serial_has("reply 7A")));
    const auto r =
        box.program("parley").input("ac").signal_when(harness::after_replies(2), SIGINT).run();
    const auto shown = seen.get();
    EXPECT_NE(shown.out.find("reply 7A\r\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find(both), std::string::npos) << shown.out;
    // The typed byte became the sketch's reply.
    EXPECT_EQ(harness::reply_pairs(r.out).back(), "zz");
}

TEST(OwnBoard, ResetStartsABoardThatIsOffOnceAndResetsOneThatRuns)
{
    REQUIRE_BOARD();
    Sandbox box;
    ASSERT_EQ(wpisim(box, {"flash", user_uno_hex}).status, 0);
    // The sketch's setup() says it is ready on its serial port, once a boot.
    const std::string ready = "spi_slave ready\r\n";
    auto boots = [&] {
        const std::string serial = read_file(box.state_dir() + "/serial.log");
        long n = 0;
        for (std::size_t at = serial.find(ready); at != std::string::npos;
             at = serial.find(ready, at + 1))
            ++n;
        return n;
    };
    for (const long expected : {1L, 2L}) {
        ASSERT_EQ(wpisim(box, {"reset"}).status, 0);
        harness::eventually([&] { return boots() >= expected; });
        // Long enough for a second boot's words to follow the first.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(boots(), expected);
    }
}

} // namespace
