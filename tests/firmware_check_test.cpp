// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The simulated board refuses firmware it cannot run, in one line, instead of
// crashing the program that loaded it.

#include "harness/sandbox.hpp"
#include "simulated_board.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

using harness::Sandbox;

namespace
{

using Bytes = std::string;

// The firmware this build made, as ELF or as Intel HEX.
Bytes built_firmware(const char *extension = ".elf")
{
    std::string path = built_firmware_elf;
    path.replace(path.rfind(".elf"), 4, extension);
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const Bytes &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A run of the stand-in on a firmware file: one set-up and one transfer.
harness::Outcome run_board(const Sandbox &box, const std::string &firmware,
                           const std::string &board = "")
{
    return box.program("library_probe")
        .args({"spi-setup", "0", "5000", "transfer", "0", "6163"})
        .env("WPISIM_FIRMWARE", firmware)
        .env("WPISIM_BOARD", board)
        .run();
}

// Either the board ran, or the stand-in said no in one line of its own.
::testing::AssertionResult ran_or_refused(const harness::Outcome &r)
{
    if (r.timed_out || !r.exited)
        return ::testing::AssertionFailure() << "no clean exit: signal " << r.signal;
    const bool one_line = r.err.find('\n') == r.err.size() - 1;
    // Damaged code may crash the simulated AVR, which the stand-in says once.
    const bool quiet_or_stopped =
        r.err.empty() || (r.err.rfind("wpisim: board stopped: ", 0) == 0 && one_line);
    if (r.status == 0 && quiet_or_stopped && r.out.rfind("0 0\n2 0 ", 0) == 0)
        return ::testing::AssertionSuccess();
    if (r.status == 2 && r.err.rfind("wpisim: WPISIM_FIRMWARE=", 0) == 0 && one_line)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << r.status << ", stderr " << r.err;
}

TEST(BoardFirmware, FilesTheBoardCannotRunAreRefusedWithTheReason)
{
    REQUIRE_BOARD();
    const Bytes elf = built_firmware();
    ASSERT_GT(elf.size(), sizeof(Elf32_Ehdr));
    auto patched = [&elf](std::size_t at, const Bytes &with) {
        Bytes b = elf;
        b.replace(at, with.size(), with);
        return b;
    };
    // The MCU's name in the .mmcu section, then in avr-libc's device note.
    const std::size_t mcu = elf.find("atmega328p");
    ASSERT_NE(mcu, Bytes::npos);
    const std::size_t note_mcu = elf.find("atmega328p", mcu + 1);
    ASSERT_NE(note_mcu, Bytes::npos);
    const Bytes hex = built_firmware(".hex");
    ASSERT_EQ(hex.rfind(":00000001FF\r\n"), hex.size() - 13);
    const std::size_t line2 = hex.find('\n') + 1;
    struct Case {
        const char *name;
        Bytes bytes;
        std::string why;
        const char *board;
    };
    const auto lines = std::count(hex.begin(), hex.end(), '\n');
    const Case cases[] = {
        {"text", "not firmware\n", "neither an ELF file nor Intel HEX", ""},
        {"arm", patched(offsetof(Elf32_Ehdr, e_machine), Bytes("\x28\x00", 2)),
         "ELF code for machine 40, not for the AVR", ""},
        {"mega2560", patched(mcu, "atmega2560"),
         "built for the \"atmega2560\", not for the ATmega328P", ""},
        {"mcu with escapes", patched(mcu, "\x1b[2J\nmega2"),
         R"(built for the "\x1b[2J\x0amega2", not for the ATmega328P)", ""},
        // A name is the board's MCU or another, however much of it they share.
        {"328pb", patched(mcu, "atmega328pb"),
         "built for the \"atmega328pb\", not for the ATmega328P", ""},
        {"328pb in the note", patched(note_mcu, "atmega328pb"),
         "built for the \"atmega328pb\", not for the ATmega328P", ""},
        {"atmega32", patched(mcu, Bytes("atmega32\0", 9)),
         "built for the \"atmega32\", not for the ATmega328P", ""},
        {"2560x on a mega", patched(mcu, "atmega2560x"),
         "built for the \"atmega2560x\", not for the ATmega2560", "mega"},
        {"avr6", patched(offsetof(Elf32_Ehdr, e_flags), "\x06"),
         "code for avr6 parts, not for the ATmega328P (avr5)", ""},
        {"uno's on a mega", elf, "built for the \"atmega328p\", not for the ATmega2560", "mega"},
        {"cut", elf.substr(0, elf.size() / 2), "section headers beyond the end of the file", ""},
        {"hex checksum", Bytes(hex).replace(line2 + 9, 1, hex[line2 + 9] == '0' ? "1" : "0"),
         "line 2: checksum", ""},
        {"hex length", ":0A000000" + hex.substr(9), "line 1: a record whose length says 10", ""},
        {"hex beyond flash", ":020000040001F9\n" + hex,
         "line 2: data at 0x10000, beyond the board's 32 KiB of flash", ""},
        {"hex high base", ":02000004FFFFFC\n" + hex, "line 2: data at 0xffff0000", ""},
        {"hex cut", hex.substr(0, hex.size() - 13), "no end-of-file record: the file was cut short",
         ""},
        {"hex twice", hex.substr(0, line2) + hex, "line 2: writes address 0x00000 a second time",
         ""},
        {"hex after end", hex + ":00000001FF\n",
         "line " + std::to_string(lines + 1) + ": a record after the end-of-file record", ""},
        {"hex type", ":00000006FA\n" + hex, "line 1: a record of unknown type 0x06", ""},
        {"hex inner blank", hex.substr(0, line2 + 9) + " " + hex.substr(line2 + 9),
         "line 2: a character that is not a hex digit", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        const std::string path = box.dir() + "/" + c.name + ".elf";
        write_file(path, c.bytes);
        const auto r = run_board(box, path, c.board);
        // A HEX message names the line and what is wrong; the rest is detail.
        const bool hex_row = std::string(c.name).rfind("hex ", 0) == 0;
        const std::string said = "wpisim: WPISIM_FIRMWARE=\"" + path + "\": " + c.why;
        EXPECT_EQ(r.err.substr(0, said.size() + (hex_row ? 0 : 1)), said + (hex_row ? "" : "\n"));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
    }
    // A program, not firmware: this used to crash inside the simulator.
    Sandbox box;
    const auto r = run_board(box, "/bin/true");
    EXPECT_EQ(r.err, "wpisim: WPISIM_FIRMWARE=\"/bin/true\": a 64-bit ELF file, not AVR code\n");
    EXPECT_EQ(r.status, 2);
}

// Intel HEX data fits the flash up to its last byte and not one byte more:
// an Uno's 32 KiB, and a Mega's 256 KiB reached by linear and by segment
// addresses.
TEST(BoardFirmware, HexDataFitsTheFlashUpToItsLastByte)
{
    REQUIRE_BOARD();
    const Bytes hex = built_firmware(".hex");
    ASSERT_FALSE(hex.empty());
    struct Case {
        const char *board;
        const char *records; // before the firmware's, which then start from base 0 again
        const char *why;     // nullptr: the board runs it
    };
    const char *beyond_uno = "line 1: data at 0x08000, beyond the board's 32 KiB of flash";
    const char *beyond_mega = "line 2: data at 0x40000, beyond the board's 256 KiB of flash";
    const Case cases[] = {
        {"uno", ":017FFF000081\n", nullptr},
        {"uno", ":01800000007F\n", beyond_uno},
        {"mega", ":020000040003F7\n:01FFFF000001\n:020000040000FA\n", nullptr},
        {"mega", ":020000040004F6\n:0100000000FF\n:020000040000FA\n", beyond_mega},
        {"mega", ":020000023FFFBE\n:01000F0000F0\n:020000020000FC\n", nullptr},
        {"mega", ":020000023FFFBE\n:0100100000EF\n:020000020000FC\n", beyond_mega},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.board) + " " + c.records);
        Sandbox box;
        const std::string path = box.dir() + "/edge.hex";
        write_file(path, c.records + hex);
        const auto r = run_board(box, path, c.board);
        if (c.why == nullptr) {
            EXPECT_EQ(r.status, 0) << r.err;
            continue;
        }
        EXPECT_EQ(r.err, "wpisim: WPISIM_FIRMWARE=\"" + path + "\": " + c.why + "\n");
        EXPECT_EQ(r.status, 2);
    }
}

// Runs the board on count damaged copies of a firmware; each must run or be
// refused in one line, and both must happen, or the damage missed what matters.
void expect_damage_handled(const char *name, int count, const std::function<Bytes()> &damaged)
{
    Sandbox box;
    const std::string path = box.dir() + "/" + name;
    int ran = 0;
    int refused = 0;
    for (int i = 0; i < count; ++i) {
        write_file(path, damaged());
        const auto r = run_board(box, path);
        ASSERT_TRUE(ran_or_refused(r)) << "mutation " << i;
        (r.status == 0 ? ran : refused) += 1;
    }
    EXPECT_GT(ran, 10);
    EXPECT_GT(refused, 10);
}

// Damage anywhere in the file, most of it where the headers and tables are.
TEST(BoardFirmware, DamagedFirmwareNeverCrashesTheProgram)
{
    REQUIRE_BOARD();
    const Bytes elf = built_firmware();
    ASSERT_GT(elf.size(), sizeof(Elf32_Ehdr));
    Elf32_Ehdr header{};
    std::memcpy(&header, elf.data(), sizeof header);
    // Seeded on purpose, so a failure here replays exactly.
    std::mt19937 random(20261208); // NOLINT(cert-msc32-c,cert-msc51-cpp)
    auto below = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    expect_damage_handled("damaged.elf", 150, [&] {
        Bytes b = elf;
        for (std::size_t k = 1 + below(6); k > 0; --k) {
            std::size_t at = below(b.size());
            if (below(3) == 0)
                at = below(sizeof(Elf32_Ehdr));
            else if (below(2) == 0)
                at = std::min(b.size() - 1, header.e_shoff + below(std::size_t{header.e_shnum} *
                                                                   sizeof(Elf32_Shdr)));
            b[at] = static_cast<char>(below(256));
        }
        if (below(20) == 0)
            b.resize(below(b.size()));
        return b;
    });
}

// The same for Intel HEX, whose every character a user's editor may touch.
TEST(BoardFirmware, DamagedHexNeverCrashesTheProgram)
{
    REQUIRE_BOARD();
    const Bytes hex = built_firmware(".hex");
    ASSERT_FALSE(hex.empty());
    std::mt19937 random(20261209); // NOLINT(cert-msc32-c,cert-msc51-cpp)
    auto below = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const std::string alphabet = ":0123456789ABCDEFabcdef\n\r x";
    // A digit changed in a data record, and its checksum made right again:
    // damaged code that reaches the simulator.
    auto resummed = [](Bytes b, std::size_t at, char digit) {
        const std::size_t start = b.rfind(':', at);
        const std::size_t end = b.find('\r', at);
        if (start == Bytes::npos || end == Bytes::npos || at < start + 9 || at >= end - 2)
            return b;
        b[at] = digit;
        unsigned sum = 0;
        for (std::size_t i = start + 1; i + 2 < end; i += 2) {
            const std::string pair = b.substr(i, 2);
            if (pair.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
                return b; // an earlier change already broke the line
            sum += static_cast<unsigned>(std::stoul(pair, nullptr, 16));
        }
        char check[3];
        std::snprintf(check, sizeof check, "%02X", (0x100 - (sum & 0xff)) & 0xff);
        return b.replace(end - 2, 2, check);
    };
    expect_damage_handled("damaged.hex", 60, [&] {
        Bytes b = hex;
        for (std::size_t k = 1 + below(3); k > 0; --k) {
            const char c = alphabet[below(alphabet.size())];
            const std::size_t at = below(b.size());
            b = below(2) == 0 && std::isxdigit(static_cast<unsigned char>(c)) != 0
                    ? resummed(b, at, c)
                    : b.replace(at, 1, 1, c);
        }
        return b;
    });
}

} // namespace
