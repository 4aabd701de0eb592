// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "settings.hpp"

#include "diagnostic.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>

namespace wpisim
{

namespace
{

struct ErrnoName {
    const char *name;
    int value;
};

const ErrnoName errno_table[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EINTR", EINTR},         {"EIO", EIO},
    {"ENXIO", ENXIO},   {"EBADF", EBADF},   {"EAGAIN", EAGAIN},       {"ENOMEM", ENOMEM},
    {"EACCES", EACCES}, {"EBUSY", EBUSY},   {"ENODEV", ENODEV},       {"EINVAL", EINVAL},
    {"ENOSPC", ENOSPC}, {"EROFS", EROFS},   {"ETIMEDOUT", ETIMEDOUT}, {"EPROTO", EPROTO},
};

constexpr int max_errno = 4095;
constexpr const char *errno_why = "a name such as EACCES, or a number from 1 to 4095";

std::string core_check(std::string_view value)
{
    constexpr std::string_view seed = "seed:";
    if (value.substr(0, seed.size()) == seed) {
        if (decimal(value.substr(seed.size()), 0, std::numeric_limits<std::uint64_t>::max()))
            return "";
        return "seed:N wants a decimal number from 0 to " +
               std::to_string(std::numeric_limits<std::uint64_t>::max());
    }
    if (value.find_first_not_of("li") == std::string_view::npos)
        return "";
    return "not a pattern of l (loaded) and i (idle), nor seed:N";
}

// N or N:ERRNO, N counting transfers from 1. A fault that silently never
// happens would let a fault test pass untested, so nothing else is taken.
std::string transfer_fault_check(std::string_view value)
{
    std::size_t digits = 0;
    long number = 0;
    for (; digits < value.size() && value[digits] >= '0' && value[digits] <= '9'; ++digits) {
        const int d = value[digits] - '0';
        if (number > (INT_MAX - d) / 10)
            return "the transfer number is too large";
        number = number * 10 + d;
    }
    if (digits == 0 || (digits < value.size() && value[digits] != ':'))
        return "not N or N:ERRNO, with N the number of a transfer counted from 1";
    if (number == 0)
        return "transfers are counted from 1";
    if (digits == value.size())
        return "";
    const std::string_view code = value.substr(digits + 1);
    if (code.empty())
        return "no errno after the colon";
    if (!errno_code(code))
        return std::string("not an errno after the colon (") + errno_why + ")";
    return "";
}

// GPIO[,GPIO...]: BCM numbers up to the BCM2711's 58 lines, each once; what a
// given Pi lacks is refused at GPIO set-up.
std::string trace_pins_check(std::string_view value)
{
    constexpr int lines = 58;
    bool listed[lines] = {};
    for (std::size_t from = 0;;) {
        const std::size_t comma = value.find(',', from);
        const std::string_view item = value.substr(from, comma - from);
        const auto gpio = decimal(item, 0, lines - 1);
        if (!gpio) {
            if (decimal(item, 0, std::numeric_limits<std::uint64_t>::max()))
                return "GPIO " + std::string(item) + ": no Pi has it (0 to " +
                       std::to_string(lines - 1) + ")";
            return "not a list of BCM GPIO numbers split by commas, such as 17,18";
        }
        if (listed[*gpio])
            return "GPIO " + std::to_string(*gpio) + " is named twice";
        listed[*gpio] = true;
        if (comma == std::string_view::npos)
            return "";
        from = comma + 1;
    }
}

const std::vector<Setting> &table()
{
    using T = SettingType;
    // Adding a setting is adding a row; its reader then asks for it by name.
    static const std::vector<Setting> rows = {
        {"WPISIM_LOG",
         T::path,
         "FILE",
         "Append one line per library call to FILE, the call log (see CALL LOG); a log that "
         "cannot be opened or written is an error.",
         "no call log",
         nullptr,
         nullptr,
         0,
         0,
         {},
         nullptr},
        {"WPISIM_STATE_DIR",
         T::path,
         "DIR",
         "Where the pins' states and the simulated board's socket live (see FILES).",
         "$XDG_STATE_HOME/wpisim, else ~/.local/state/wpisim, else a private "
         "${TMPDIR:-/tmp}/wpisim-UID (mode 0700, refused if it is a link, another user's or "
         "open to others)",
         nullptr,
         nullptr,
         0,
         0,
         {},
         nullptr},
        {"WPISIM_BENCH",
         T::path,
         "FILE",
         "The bench file: the Pi, the boards and the wires (see wpisim(1)). Each variable here "
         "overrides the file's value; a FILE that does not exist is an error.",
         "wpisim.toml in the working directory if there is one, else one board on CE0 and "
         "nothing else wired",
         nullptr,
         nullptr,
         0,
         0,
         {},
         nullptr},
        {"WPISIM_PEER",
         T::choice,
         "PEER",
         "What answers on the SPI bus: the simulated board, the script of WPISIM_REPLIES, a small "
         "model of the firmware, or a loopback that echoes what was sent.",
         "the script when WPISIM_REPLIES is set, else the simulated board where it is built, "
         "else the model",
         nullptr,
         "a peer",
         0,
         0,
         {}, // bus/peer_choice.cpp's
         nullptr},
        {"WPISIM_REPLIES",
         T::text,
         "HEX[,HEX...]",
         "The script peer's replies, one string of hex bytes per transfer, split by commas or "
         "spaces; the last repeats once used up, a short one ends in zeros, a long one is cut. "
         "With any WPISIM_PEER other than script it is an error.",
         "no script",
         nullptr,
         nullptr,
         0,
         0,
         {},
         nullptr},
        {"WPISIM_FIRMWARE",
         T::path,
         "FILE",
         "The firmware the simulated board runs, for this run: Intel HEX or an ELF of AVR code "
         "for the board's MCU (named by avr-libc's device note or a .mmcu section), fitting its "
         "flash.",
         "what wpisim flash put on the board, else the firmware this build made",
         nullptr,
         nullptr,
         0,
         0,
         {},
         nullptr},
        {"WPISIM_BOARD_RESET",
         T::choice,
         "0|1",
         "1: the board is reset before this run; runs using it go on against the fresh board.",
         "0: the board keeps its state",
         nullptr,
         nullptr,
         0,
         0,
         {"0", "1"},
         nullptr},
        {"WPISIM_BOARD",
         T::choice,
         "KIND",
         "The kind of board: its MCU, its clock (no firmware file records it), its SPI pins and "
         "the pins the log reports as D5 and D6.",
         "the kind the flash was made for, else uno",
         nullptr,
         "a kind of board",
         0,
         0,
         {}, // firmware-files/board_kind.cpp's
         nullptr},
        {"WPISIM_TIME",
         T::choice,
         "wall|virtual",
         "The bench's time. virtual: nothing sleeps; delay() and each transfer's wire time step "
         "the state directory's clock, and the board runs exactly to it.",
         "wall: the real time, as on a bench",
         nullptr,
         nullptr,
         0,
         0,
         {"wall", "virtual"},
         nullptr},
        {"WPISIM_PI",
         T::choice,
         "MODEL",
         "The Pi the stand-in plays: its board id, pin numbering, header and PWM, and the SPI "
         "clock its driver makes, an even divider of the core clock worked out for the loaded "
         "core clock. pi1-rev1 is the first Model B, with the first GPIO layout.",
         "a Pi 4, whose SPI wire runs at exactly the requested speed",
         nullptr,
         "a Pi model",
         0,
         0,
         {}, // pi/pi_model.cpp's
         nullptr},
        {"WPISIM_CORE",
         T::pattern,
         "PATTERN|seed:N",
         "The Pi's core clock at each transfer: l (loaded) and i (idle), repeated over the "
         "transfers (li alternates), or a mix that a given N repeats exactly.",
         "l, always loaded",
         "WPISIM_PI",
         nullptr,
         0,
         0,
         {},
         core_check},
        {"WPISIM_SCLK",
         T::number,
         "HZ",
         "An ideal master clocking at exactly HZ, whatever was requested; overrides WPISIM_PI.",
         "the requested speed, or the clock WPISIM_PI makes",
         nullptr,
         "a clock in Hz",
         1,
         125000000,
         {},
         nullptr},
        {"WPISIM_WIRING",
         T::choice,
         "WIRING",
         "One wiring fault between the Pi and the board, as the electrics play it out.",
         "ok, wired as it should be",
         nullptr,
         "a wiring",
         0,
         0,
         {}, // bus/wiring_faults.cpp's
         nullptr},
        {"WPISIM_TRACE",
         T::path,
         "FILE",
         "Write the bus of this run to FILE as a logic analyzer would record it (VCD: SCLK, "
         "MOSI, MISO, CE0 and CE1 in each transfer's SPI mode, the board's D5 and D6, and the "
         "GPIOs of WPISIM_TRACE_PINS), from SPI or GPIO set-up on. A run holds the file while it "
         "lives; another run tracing to it meanwhile is refused.",
         "no trace",
         nullptr,
         nullptr,
         0,
         0,
         {},
         nullptr},
        {"WPISIM_FAIL_SPI_SETUP",
         T::errno_code,
         "ERRNO",
         "SPI set-up (wiringPiSPISetup, wiringPiSPISetupMode) fails with ERRNO.",
         "no fault (as is 0)",
         nullptr,
         "an errno",
         0,
         0,
         {},
         nullptr},
        {"WPISIM_FAIL_GPIO_SETUP",
         T::errno_code,
         "ERRNO",
         "wiringPiSetup fails with ERRNO.",
         "no fault (as is 0)",
         nullptr,
         "an errno",
         0,
         0,
         {},
         nullptr},
        {"WPISIM_FAIL_TRANSFER",
         T::pattern,
         "N[:ERRNO]",
         "The Nth transfer of the process, counted from 1, fails with ERRNO (EIO when not "
         "given); a value not of this form is an error at SPI set-up.",
         "no fault",
         nullptr,
         nullptr,
         0,
         0,
         {},
         transfer_fault_check},
        {"WPISIM_INTERRUPT_AT",
         T::number,
         "N",
         "As transfer N of the process, counted from 1, is about to start, the stand-in raises "
         "SIGINT, as a Ctrl-C then would.",
         "no interrupt",
         nullptr,
         "the number of a transfer",
         1,
         2147483647,
         {},
         nullptr},
        {"WPISIM_TRACE_PINS",
         T::pattern,
         "GPIO[,GPIO...]",
         "Add these BCM GPIOs to the trace, each a wire named GPIO17 and so on carrying the "
         "pin's level over the run: the program's changes, outside drives and PWM, soft PWM and "
         "tones edge by edge (up to 1000000 edges a pin, unknown after). A GPIO the Pi lacks is "
         "refused at GPIO set-up.",
         "the bus only",
         "WPISIM_TRACE",
         nullptr,
         0,
         0,
         {},
         trace_pins_check},
    };
    return rows;
}

[[noreturn]] void misuse(std::string_view name, const std::string &why)
{
    // A reader asking for a row that is not there, or as another type: our bug.
    exit_with("setting " + quoted(name), why);
}

const Setting &row(std::string_view name)
{
    for (const Setting &s : table())
        if (name == s.name)
            return s;
    misuse(name, "not in the settings table");
}

struct Given {
    std::string_view setting;
    std::vector<std::string_view> words;
};

// What the modules gave; filled before main, by ChoiceWords.
std::vector<Given> &given()
{
    static std::vector<Given> all;
    return all;
}

// A choice's words: its row's, else its module's.
const std::vector<std::string_view> &words(const Setting &s)
{
    if (!s.words.empty())
        return s.words;
    for (const Given &g : given())
        if (g.setting == s.name)
            return g.words;
    misuse(s.name, "no words: this program does not link the module that reads it");
}

SettingSource source = nullptr;

// Set and not empty: an empty variable counts as unset.
const char *raw(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// "a, b, c", or with last_or "a, b or c".
std::string joined(const std::vector<std::string_view> &words, bool last_or)
{
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i)
        out.append(i == 0 ? "" : last_or && i + 1 == words.size() ? " or " : ", ").append(words[i]);
    return out;
}

// Why the row refuses the value, or empty.
std::string refusal(const Setting &s, std::string_view value)
{
    switch (s.type) {
    case SettingType::text:
    case SettingType::path:
        return "";
    case SettingType::number:
        if (decimal(value, s.min, s.max))
            return "";
        return std::string("not ") + s.noun + " (" + std::to_string(s.min) + " to " +
               std::to_string(s.max) + ")";
    case SettingType::choice: {
        const auto &list = words(s);
        for (const std::string_view word : list)
            if (value == word)
                return "";
        // Without a noun the words say it all: "not 0 or 1".
        if (s.noun == nullptr)
            return "not " + joined(list, true);
        return std::string("not ") + s.noun + " (" + joined(list, false) + ")";
    }
    case SettingType::errno_code:
        if (value == "0" || errno_code(value))
            return "";
        return std::string("not ") + s.noun + " (" + errno_why + ")";
    case SettingType::pattern:
        return s.check(value);
    }
    return "";
}

} // namespace

void for_each_setting(const std::function<void(const Setting &)> &visit)
{
    for (const Setting &s : table()) {
        if (s.type != SettingType::choice || !s.words.empty()) {
            visit(s);
            continue;
        }
        Setting with_words = s;
        with_words.words = words(s);
        visit(with_words);
    }
}

void ChoiceWords::give(const char *setting, std::vector<std::string_view> words)
{
    const Setting &s = row(setting);
    if (s.type != SettingType::choice || !s.words.empty())
        misuse(setting, "not a choice whose module gives its words");
    if (words.empty())
        misuse(setting, "given no words");
    for (const Given &g : given())
        if (g.setting == s.name)
            misuse(setting, "given words twice");
    given().push_back({s.name, std::move(words)});
}

void no_row(std::string_view setting, std::string_view word)
{
    misuse(setting, "takes " + quoted(word) + ", which its module's table lacks");
}

void give_setting_source(SettingSource given_source)
{
    source = given_source;
}

std::string setting_refusal(std::string_view name, std::string_view value)
{
    return refusal(row(name), value);
}

std::optional<std::string> setting_text(std::string_view name)
{
    const Setting &s = row(name);
    std::string value;
    std::string what;
    if (const char *set = raw(s.name)) {
        value = set;
        what = std::string(s.name) + "=" + quoted(value);
    } else if (auto from = source != nullptr ? source(s.name) : std::nullopt) {
        value = std::move(from->value);
        what = from->where + " " + quoted(value);
    } else {
        return std::nullopt;
    }
    if (const std::string why = refusal(s, value); !why.empty())
        fail(what, why);
    if (s.needs != nullptr && raw(s.needs) == nullptr && (source == nullptr || !source(s.needs)))
        fail(what, std::string("needs ") + s.needs + ", which is unset");
    return value;
}

std::optional<std::uint64_t> setting_number(std::string_view name)
{
    const Setting &s = row(name);
    if (s.type != SettingType::number)
        misuse(name, "not a number setting");
    const auto text = setting_text(name);
    if (!text)
        return std::nullopt;
    return decimal(*text, s.min, s.max);
}

bool setting_flag(std::string_view name)
{
    const Setting &s = row(name);
    if (s.type != SettingType::choice || s.words != std::vector<std::string_view>{"0", "1"})
        misuse(name, "not a 0|1 setting");
    return setting_text(name) == "1";
}

int setting_errno(std::string_view name)
{
    if (row(name).type != SettingType::errno_code)
        misuse(name, "not an errno setting");
    const auto text = setting_text(name);
    return text && *text != "0" ? *errno_code(*text) : 0;
}

std::optional<std::uint64_t> decimal(std::string_view text, std::uint64_t min, std::uint64_t max)
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (value > max / 10 || d > max - value * 10)
            return std::nullopt;
        value = value * 10 + d;
    }
    if (value < min)
        return std::nullopt;
    return value;
}

std::optional<int> errno_code(std::string_view text)
{
    for (const ErrnoName &n : errno_table)
        if (text == n.name)
            return n.value;
    if (const auto number = decimal(text, 1, max_errno))
        return static_cast<int>(*number);
    return std::nullopt;
}

std::string errno_names()
{
    std::string out;
    for (const ErrnoName &n : errno_table)
        out.append(out.empty() ? "" : ", ").append(n.name);
    return out;
}

} // namespace wpisim
