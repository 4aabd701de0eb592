// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim check and wpisim wire: the bench file checked, and its wires edited
// in its own text, so the user's comments and layout stay.

#include "bench_command.hpp"

#include "bench_file.hpp"
#include "message.hpp"
#include "settings.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

[[noreturn]] void usage_error(const std::string &why)
{
    exit_with("usage", why + " (wpisim --help)");
}

std::string hex_address(int address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", address);
    return text;
}

std::string wire_line(const Bench &b, const BenchWire &w)
{
    std::string line = "wire: GPIO " + std::to_string(w.gpio) + " to " + w.board + " " + w.pin;
    for (const BenchBoard &board : b.boards)
        if (board.name == w.board && board_pin_name(*board.kind, w.board_pin) != w.pin)
            line += " (" + board_pin_name(*board.kind, w.board_pin) + ")";
    return line + (w.divider ? ", through a divider" : "");
}

void print_summary(const Bench &b)
{
    std::printf("pi: %s, %s time, I2C at %ld Hz", b.model.value_or("pi4").c_str(),
                b.time.value_or("wall").c_str(), b.i2c_hz);
    if (b.trace)
        std::printf(", trace %s", quoted(*b.trace).c_str());
    for (std::size_t i = 0; i < b.trace_pins.size(); ++i)
        std::printf("%s%d", i == 0 ? " with GPIO " : ", ", b.trace_pins[i]);
    std::printf("\n");
    for (const BenchBoard &board : b.boards) {
        std::string where;
        if (!board.spi.empty())
            where += ", SPI " + board.spi;
        if (board.i2c >= 0)
            where += ", I2C " + hex_address(board.i2c);
        if (!board.serial.empty())
            where += ", serial " + board.serial;
        std::printf("board %s: %s (%s, %g V)%s, firmware %s\n", board.name.c_str(),
                    board.kind->name, board.kind->part, board.kind->millivolts / 1000.0,
                    where.empty() ? ", on no bus" : where.c_str(),
                    board.firmware.empty() ? "as flashed" : quoted(board.firmware).c_str());
    }
    for (const BenchWire &w : b.wires)
        std::printf("%s\n", wire_line(b, w).c_str());
}

std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        exit_with(quoted(path), std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file's new text, through a file beside it renamed over it, so a
// reader never sees half of it.
void write_text(const std::string &path, const std::string &text)
{
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        exit_with(quoted(temp), std::strerror(errno));
    struct stat st {
    };
    mode_t mode = 0;
    if (stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode = umask(0);
        umask(mode);
        mode = 0666 & ~mode;
    }
    bool ok = fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    const int failed = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        const int why = ok ? errno : failed;
        unlink(temp.c_str());
        exit_with(quoted(path), std::strerror(why));
    }
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = text.find('\n', from);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(from, next - from));
        from = next;
    }
    return lines;
}

bool blank(const std::string &line)
{
    return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The text without the [[wire]] table on gpio, and the blank line that
// parted it from the table before when nothing follows it but a blank.
std::string without_wire(const std::string &path, const std::string &text, int gpio)
{
    const auto range = wire_table_lines(text, gpio);
    if (!range)
        exit_with("wire --remove " + std::to_string(gpio),
                  "no wire on GPIO " + std::to_string(gpio) + " in " + quoted(path));
    std::vector<std::string> lines = split_lines(text);
    auto first = static_cast<std::size_t>(range->first - 1);
    const auto last = static_cast<std::size_t>(range->second);
    if (first > 0 && blank(lines[first - 1]) && (last == lines.size() || blank(lines[last])))
        --first;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first),
                lines.begin() + static_cast<std::ptrdiff_t>(last));
    std::string out;
    for (const std::string &line : lines)
        out += line;
    return out;
}

bool plain_word(const std::string &word)
{
    return !word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstu"
                                                   "vwxyz0123456789-") == std::string::npos;
}

std::string with_wire(std::string text, const std::vector<std::string> &args)
{
    const bool divider = args.size() == 3 && args[2] == "--divider";
    if (args.size() != 2 && !divider)
        usage_error("wire takes GPIO BOARD:PIN [--divider], or --remove GPIO");
    const auto gpio = decimal(args[0], 0, 9999);
    if (!gpio)
        usage_error("wire " + quoted(args[0]) + ": not a BCM GPIO number");
    const std::size_t colon = args[1].find(':');
    const std::string board = args[1].substr(0, colon);
    const std::string pin = colon == std::string::npos ? "" : args[1].substr(colon + 1);
    if (!plain_word(board) || !plain_word(pin))
        usage_error("wire " + quoted(args[1]) + ": not BOARD:PIN, such as uno:D2");
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    if (!text.empty() && text.substr(text.size() - std::min<std::size_t>(2, text.size())) != "\n\n")
        text += '\n';
    text += "[[wire]]\npi = " + std::to_string(*gpio) + "\nboard = \"" + board + "\"\npin = \"" +
            pin + "\"\n" + (divider ? "divider = true\n" : "");
    return text;
}

// True when text is a good bench file; else false, having said why.
bool checked(const std::string &path, const std::string &text, Bench *b, const char *refused)
{
    const std::vector<std::string> errors = check_bench_text(text, path, b);
    if (!errors.empty() && refused != nullptr)
        std::fprintf(stderr, "wpisim: wire: %s %s; it was left as it is:\n", quoted(path).c_str(),
                     refused);
    for (const std::string &e : errors)
        std::fprintf(refused != nullptr ? stderr : stdout, "%s\n", e.c_str());
    return errors.empty();
}

} // namespace

int check_command(const std::vector<std::string> &args)
{
    if (args.size() > 1)
        usage_error("check takes at most one FILE");
    const std::string path = args.empty() ? bench_file_path() : args[0];
    Bench b;
    if (path.empty()) {
        std::printf("no bench file: the default bench\n");
        b = the_bench();
    } else {
        const std::vector<std::string> errors = check_bench_file(path, &b);
        for (const std::string &e : errors)
            std::printf("%s\n", e.c_str());
        if (!errors.empty())
            return 1;
        std::printf("%s: good\n", path.c_str());
    }
    print_summary(b);
    return 0;
}

int wire_command(const std::vector<std::string> &args)
{
    std::string path = bench_file_path();
    const bool creating = path.empty();
    if (creating)
        path = "wpisim.toml";
    const std::string text = creating ? "" : read_text(path);
    Bench b;
    if (args.empty()) {
        if (!checked(path, text, &b, nullptr))
            return 1;
        for (const BenchWire &w : b.wires)
            std::printf("%s\n", wire_line(b, w).c_str());
        return 0;
    }
    if (!creating && !checked(path, text, &b, "has errors"))
        return 1;
    std::string edited;
    if (args[0] == "--remove") {
        const auto gpio = args.size() == 2 ? decimal(args[1], 0, 9999) : std::nullopt;
        if (!gpio)
            usage_error("wire --remove takes a GPIO");
        if (creating)
            exit_with("wire --remove " + args[1], "no bench file");
        edited = without_wire(path, text, static_cast<int>(*gpio));
    } else {
        edited = with_wire(text, args);
    }
    if (!checked(path, edited, &b, "would have errors"))
        return 1;
    write_text(path, edited);
    for (const BenchWire &w : b.wires)
        std::printf("%s\n", wire_line(b, w).c_str());
    return 0;
}

} // namespace wpisim
