// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim flash reads avrdude's options as avrdude reads them (getopt: a
// value joined to its option or apart, flags together, options and the file
// in any order), so that the upload line an Arduino IDE prints works with
// wpisim flash in avrdude's place.

#include "flash_command.hpp"
#include "firmware_choice.hpp"

#include "bench_file.hpp"
#include "board_client.hpp"
#include "board_kind.hpp"
#include "firmware_check.hpp"
#include "flash_store.hpp"
#include "message.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace wpisim
{

namespace
{

const char help_text[] =
    "Usage: wpisim flash [--board KIND] [OPTION]... FILE\n"
    "       wpisim flash [--board KIND] [OPTION]... -U flash:w:FILE[:FORMAT]\n"
    "Checks FILE, Intel HEX or an ELF, for the board and keeps it as the board's\n"
    "flash until the next flash; a board that runs is reset into it. A file refused\n"
    "leaves the flash as it was. Options are read as avrdude reads them: a value\n"
    "joined to its option or apart (-pm328p, -p m328p), flags together (-vv), in\n"
    "any order.\n"
    "\n"
    "  --board KIND    uno (the default), nano, pro-mini, pro-mini-8mhz, mega\n"
    "  -p PART         m328p or atmega328p (an Uno, unless --board names another\n"
    "                  328P board), m2560 or atmega2560 (a Mega), in any case\n"
    "  -U flash:w:FILE[:FORMAT]\n"
    "                  the file; FORMAT i (Intel HEX), e (ELF) or a (either, the\n"
    "                  default), needed when FILE has a colon; -U FILE is\n"
    "                  flash:w:FILE:a. One file only: the board has one flash\n"
    "  -n              check the file, write nothing\n"
    "  -v, -q          taken; the bench says the same either way\n"
    "  -b -B -c -C -E -i -l -P -x -Y VALUE, -A -D -e -F -O -s -u -V -y\n"
    "                  ignored, and said to be: the bench needs no programmer,\n"
    "                  port or speed, and replaces the whole flash each time\n"
    "  -t              refused: the bench has no terminal mode\n"
    "  -h, -?, --help  this help\n"
    "See wpisim(1).\n";

const char takes_only[] = "(flash:w:FILE[:i|:e|:a])";

[[noreturn]] void usage_error(const std::string &why)
{
    exit_with("usage", "flash: " + why + " (wpisim flash --help)");
}

[[noreturn]] void help()
{
    std::fputs(help_text, stdout);
    std::exit(0);
}

// avrdude's part names for the MCUs the bench has, which avrdude takes in any case.
const BoardKind *kind_of_part(std::string part)
{
    for (char &c : part)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (part == "m328p" || part == "atmega328p")
        return find_board_kind("uno");
    if (part == "m2560" || part == "atmega2560")
        return find_board_kind("mega");
    return nullptr;
}

// avrdude's options that take a value (its getopt string is
// "?Ab:B:c:C:DeE:Fi:l:np:OP:qstU:uvVx:yY:"), and what the value is.
struct Valued {
    char letter;
    const char *value;
};
constexpr Valued valued[] = {
    {'b', "BAUDRATE"},       {'B', "BITCLOCK"},
    {'c', "PROGRAMMER"},     {'C', "CONFIG-FILE"},
    {'E', "EXIT-SETTINGS"},  {'i', "DELAY"},
    {'l', "LOGFILE"},        {'p', "PART"},
    {'P', "PORT"},           {'U', "flash:w:FILE[:FORMAT]"},
    {'x', "EXTENDED-PARAM"}, {'Y', "COUNT"},
};
// avrdude's flags for a real programmer's erase, verify and checks.
constexpr char ignored_flags[] = "ADeFOsuVy";

// avrdude's file formats; those with no name are the ones the bench takes.
struct Format {
    char letter;
    const char *name;
};
constexpr Format formats[] = {
    {'a', nullptr},
    {'i', nullptr},
    {'e', nullptr},
    {'I', "Intel HEX, checksum errors tolerated"},
    {'s', "Motorola S-record"},
    {'r', "raw binary"},
    {'m', "immediate"},
    {'d', "decimal, for output only"},
    {'h', "hexadecimal, for output only"},
    {'o', "octal, for output only"},
    {'b', "binary, for output only"},
};

// What a flash command asked for, in our words or avrdude's.
struct FlashAsked {
    const BoardKind *kind = nullptr;
    const BoardKind *part = nullptr;
    std::string file;
    char format = 'a';
    bool check_only = false;
    std::string ignored;
    std::string to; // the bench's board of that name; empty: the first
};

void name_file(FlashAsked &asked, const std::string &file)
{
    if (!asked.file.empty())
        usage_error("two files to flash, " + quoted(asked.file) + " and " + quoted(file) +
                    ": the board has one flash");
    asked.file = file;
}

// -U MEMORY:OP:FILE[:FORMAT] or -U FILE, as avrdude splits it: FORMAT is
// what follows the last colon, so a FILE with a colon needs one.
void take_upload(const std::string &op, FlashAsked &asked)
{
    const std::string said = "-U " + quoted(op);
    const std::size_t colon = op.find(':');
    std::string file = op;
    char format = 'a';
    if (colon != std::string::npos) {
        const char what = colon + 1 < op.size() ? op[colon + 1] : '\0';
        if (what == '\0' || std::strchr("rwv", what) == nullptr || op.size() < colon + 3 ||
            op[colon + 2] != ':')
            exit_with(said, "not MEMORY:OP:FILE[:FORMAT] with OP r, w or v, as avrdude reads -U");
        // avrdude takes a memory by any start of its name; on these MCUs
        // only the flash's starts with f.
        const std::string memory = op.substr(0, colon);
        if (memory.empty() || std::string("flash").compare(0, memory.size(), memory) != 0)
            exit_with(said,
                      std::string("not the flash, the only memory the bench writes ") + takes_only);
        if (what != 'w')
            exit_with(said, std::string(what == 'r' ? "reads" : "verifies") +
                                " the flash, which the bench does not; it only writes it " +
                                takes_only);
        file = op.substr(colon + 3);
        if (const std::size_t last = file.rfind(':'); last != std::string::npos) {
            const std::string letter = file.substr(last + 1);
            file.resize(last);
            const Format *known =
                std::find_if(std::begin(formats), std::end(formats), [&letter](const Format &f) {
                    return letter.size() == 1 && letter[0] == f.letter;
                });
            if (known == std::end(formats))
                exit_with(said, "format " + quoted(letter) +
                                    " is not one of avrdude's; a file name with a colon needs "
                                    "its format, as in flash:w:FILE:a");
            if (known->name != nullptr)
                exit_with(said, std::string("format ") + known->letter + " (" + known->name +
                                    "), which the bench does not take: i (Intel HEX), e (ELF) "
                                    "or a (either)");
            format = known->letter;
        }
    }
    if (file.empty())
        exit_with(said, "no file named");
    name_file(asked, file);
    asked.format = format;
}

void ignore(FlashAsked &asked, const std::string &said)
{
    asked.ignored += (asked.ignored.empty() ? "" : " ") + said;
}

void take_value(char letter, const std::string &value, FlashAsked &asked)
{
    if (letter == 'p') {
        asked.part = kind_of_part(value);
        if (asked.part == nullptr)
            exit_with("-p " + quoted(value),
                      "not a part the bench has (m328p, atmega328p, m2560, atmega2560)");
    } else if (letter == 'U') {
        take_upload(value, asked);
    } else {
        ignore(asked, std::string("-") + letter + " " + value);
    }
}

// One word of short options, as getopt reads it: flags, then perhaps an
// option whose value is the rest of the word, or else the next word.
void take_short(const std::vector<std::string> &args, std::size_t &i, FlashAsked &asked)
{
    const std::string &word = args[i];
    for (std::size_t at = 1; at < word.size(); ++at) {
        const char letter = word[at];
        const Valued *v = std::find_if(std::begin(valued), std::end(valued),
                                       [letter](const Valued &o) { return o.letter == letter; });
        if (v != std::end(valued)) {
            if (at + 1 < word.size())
                take_value(letter, word.substr(at + 1), asked);
            else if (i + 1 < args.size())
                take_value(letter, args[++i], asked);
            else
                usage_error(std::string("-") + letter + " needs a value: " + v->value);
            return;
        }
        if (letter == '?' || letter == 'h')
            help();
        if (letter == 't')
            exit_with("flash -t", "avrdude's terminal mode is not on the bench");
        if (letter == 'n')
            asked.check_only = true;
        else if (std::strchr(ignored_flags, letter) != nullptr)
            ignore(asked, std::string("-") + letter);
        else if (letter != 'v' && letter != 'q')
            usage_error(quoted(std::string("-") + letter) + " not understood");
    }
}

// The long options are the bench's own.
void take_long(const std::vector<std::string> &args, std::size_t &i, FlashAsked &asked)
{
    if (args[i] == "--help")
        help();
    if (args[i] == "--to") {
        if (++i == args.size())
            usage_error("--to needs a value: the name of a board of the bench");
        asked.to = args[i];
        return;
    }
    if (args[i] != "--board")
        usage_error(quoted(args[i]) + " not understood");
    if (++i == args.size())
        usage_error("--board needs a value: KIND");
    asked.kind = find_board_kind(args[i]);
    if (asked.kind == nullptr)
        exit_with("--board " + quoted(args[i]), "not a kind of board (" + board_kind_names() + ")");
}

FlashAsked parse_flash(const std::vector<std::string> &args)
{
    FlashAsked asked;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (!options || a.size() < 2 || a[0] != '-')
            name_file(asked, a);
        else if (a == "--")
            options = false;
        else if (a[1] == '-')
            take_long(args, i, asked);
        else
            take_short(args, i, asked);
    }
    if (asked.file.empty())
        usage_error("no file named");
    if (asked.kind != nullptr && asked.part != nullptr &&
        std::strcmp(asked.kind->mcu, asked.part->mcu) != 0)
        exit_with("-p", std::string("names the ") + asked.part->part + ", and --board " +
                            asked.kind->name + " has the " + asked.kind->part);
    const BenchBoard *board = bench_board(asked.to);
    if (board == nullptr)
        exit_with("--to " + quoted(asked.to),
                  "not a board of the bench (" + bench_board_names() + ")");
    asked.to = state_name(*board);
    if (asked.kind == nullptr && asked.part == nullptr && board->kind_given)
        asked.kind = board->kind;
    if (asked.kind == nullptr)
        asked.kind = asked.part != nullptr ? asked.part : &default_board_kind();
    return asked;
}

} // namespace

int flash_command(const std::vector<std::string> &args)
{
    const FlashAsked asked = parse_flash(args);
    const BoardKind &kind = *asked.kind;
    if (!asked.ignored.empty())
        std::fprintf(stderr,
                     "wpisim: flash: ignored %s: the bench needs no programmer, port or speed, "
                     "and replaces the whole flash each time\n",
                     quoted(asked.ignored).c_str());
    std::string content;
    std::uint32_t flash_bytes = 0;
    const std::string why = firmware_problem(asked.file, kind, &content, &flash_bytes);
    if (!why.empty())
        exit_with(quoted(asked.file), why);
    const bool hex = !content.empty() && content[0] == ':';
    if ((asked.format == 'i' && !hex) || (asked.format == 'e' && hex))
        exit_with(quoted(asked.file),
                  asked.format == 'i' ? "not Intel HEX, as :i says" : "not an ELF, as :e says");
    if (asked.check_only) {
        std::printf("checked %s for the %s (%s): %u bytes of flash; nothing written (-n)\n",
                    quoted(asked.file).c_str(), kind.name, kind.part,
                    static_cast<unsigned>(flash_bytes));
        return 0;
    }
    if (const std::string failed = store_flash(content, kind, asked.file, asked.to);
        !failed.empty())
        exit_with("flash " + quoted(state_dir_path() + "/" +
                                    state_files::of_board(state_files::flash, asked.to)),
                  failed);
    // As avrdude counts them: the bytes in the flash, not the file's.
    std::printf("flashed %s to the %s (%s): %u bytes of flash written\n",
                quoted(asked.file).c_str(), kind.name, kind.part,
                static_cast<unsigned>(flash_bytes));
    // A board that runs is reset into the new flash, as avrdude's upload does.
    if (board_status()) {
        const Firmware just_flashed = flashed_firmware(asked.to);
        if (asked.to.empty())
            make_board_peer(true, true, nullptr, &just_flashed);
        else
            make_board_peer_of(asked.to, true, nullptr, &just_flashed);
        std::printf("board reset\n");
    }
    return 0;
}

} // namespace wpisim
