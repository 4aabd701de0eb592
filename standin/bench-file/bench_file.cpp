// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Reading and checking a bench file. The only user of toml++, which is
// compiled here, header-only.
#include "bench_file.hpp"

#include "firmware_check.hpp"
#include "message.hpp"
#include "pi_model.hpp"
#include "pi_pins.hpp"
#include "settings.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <toml++/toml.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

struct Error {
    int line;
    std::string what;
};

int line_of(const toml::node &n)
{
    return static_cast<int>(n.source().begin.line);
}

int line_of(const toml::key &k)
{
    return static_cast<int>(k.source().begin.line);
}

std::string hex_address(long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02lx", value);
    return text;
}

// Relative names in the file are the file's folder's.
std::string beside(const std::string &file, const std::string &name)
{
    if (name.empty() || name[0] == '/')
        return name;
    const std::size_t slash = file.rfind('/');
    std::string folder = slash == std::string::npos ? "" : file.substr(0, slash + 1);
    if (folder.empty() || folder[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr)
            folder = std::string(cwd) + "/" + folder;
    }
    return folder + name;
}

class Checker
{
  public:
    Checker(const std::string &path, Bench &bench) : path_(path), b_(bench) {}

    void run(const toml::table &root)
    {
        for (auto &&[key, node] : root) {
            const std::string name(key.str());
            if (name == "pi") {
                if (const toml::table *pi = node.as_table())
                    read_pi(*pi);
                else
                    error(line_of(key), "pi: wants a [pi] table");
            } else if (name == "board" || name == "wire") {
                const toml::array *list = node.as_array();
                if (list == nullptr || !list->is_array_of_tables()) {
                    std::string why = name;
                    why.append(": wants [[").append(name).append("]] tables");
                    error(line_of(key), why);
                    continue;
                }
                for (const toml::node &each : *list)
                    (name == "board" ? boards_ : wires_).push_back(each.as_table());
            } else {
                error(line_of(key), "unknown table " + quoted(name) + " (pi, board, wire)");
            }
        }
        // A table's source is its header: file order is line order.
        const auto by_line = [](const toml::table *a, const toml::table *b) {
            return line_of(*a) < line_of(*b);
        };
        std::sort(boards_.begin(), boards_.end(), by_line);
        std::sort(wires_.begin(), wires_.end(), by_line);
        for (const toml::table *t : boards_)
            read_board(*t);
        if (boards_.empty())
            b_.boards.push_back({"board", &default_board_kind(), "", "ce0", -1, "", 0, false});
        for (const toml::table *t : wires_)
            read_wire(*t);
    }

    std::vector<Error> errors;

  private:
    void error(int line, std::string what) { errors.push_back({line, std::move(what)}); }

    void known_keys(const toml::table &t, const char *table,
                    std::initializer_list<std::string_view> keys)
    {
        std::string list;
        for (const std::string_view k : keys)
            list.append(list.empty() ? "" : ", ").append(k);
        for (auto &&[key, node] : t)
            if (std::find(keys.begin(), keys.end(), key.str()) == keys.end())
                error(line_of(key),
                      "unknown key " + quoted(key.str()) + " in " + table + " (" + list + ")");
    }

    // The key's node of the wanted type, or null: absent, or of another type (an error).
    template <class T>
    const toml::value<T> *value(const toml::table &t, std::string_view key, const char *wants)
    {
        const toml::node *n = t.get(key);
        if (n == nullptr)
            return nullptr;
        if (const auto *v = n->as<T>())
            return v;
        error(line_of(*n), std::string(key) + ": wants " + wants);
        return nullptr;
    }

    const toml::value<std::string> *text(const toml::table &t, std::string_view key)
    {
        return value<std::string>(t, key, "a string");
    }

    const toml::value<std::int64_t> *integer(const toml::table &t, std::string_view key)
    {
        return value<std::int64_t>(t, key, "an integer");
    }

    // A word the setting's own check takes, said as its error says it.
    bool word(const toml::value<std::string> *v, std::string_view key, const char *setting)
    {
        if (v == nullptr)
            return false;
        const std::string why = setting_refusal(setting, v->get());
        if (!why.empty())
            error(line_of(*v), std::string(key) + " " + quoted(v->get()) + ": " + why);
        return why.empty();
    }

    void read_pi(const toml::table &pi)
    {
        known_keys(pi, "[pi]", {"model", "time", "trace", "trace_pins", "i2c_hz"});
        if (const auto *v = text(pi, "model"); word(v, "model", "WPISIM_PI")) {
            b_.model = v->get();
            b_.model_line = line_of(*v);
        }
        if (const auto *v = text(pi, "time"); word(v, "time", "WPISIM_TIME")) {
            b_.time = v->get();
            b_.time_line = line_of(*v);
        }
        if (const auto *v = text(pi, "trace")) {
            if (v->get().empty())
                error(line_of(*v), "trace \"\": wants a file name");
            else
                b_.trace = beside(path_, v->get());
            b_.trace_line = line_of(*v);
        }
        if (const toml::node *n = pi.get("trace_pins"))
            read_trace_pins(*n);
        if (const auto *v = integer(pi, "i2c_hz")) {
            if (v->get() < 1000 || v->get() > 3400000)
                error(line_of(*v), "i2c_hz " + std::to_string(v->get()) +
                                       ": not a clock in Hz (1000 to 3400000)");
            else
                b_.i2c_hz = static_cast<long>(v->get());
        }
    }

    void read_trace_pins(const toml::node &n)
    {
        const toml::array *list = n.as_array();
        std::string joined;
        std::vector<int> pins;
        for (std::size_t i = 0; list != nullptr && i < list->size(); ++i) {
            const auto *gpio = (*list)[i].as_integer();
            if (gpio == nullptr || gpio->get() < 0 || gpio->get() > 9999) {
                list = nullptr;
                break;
            }
            pins.push_back(static_cast<int>(gpio->get()));
            joined.append(joined.empty() ? "" : ",").append(std::to_string(pins.back()));
        }
        if (list == nullptr || pins.empty()) {
            error(line_of(n), "trace_pins: wants a list of BCM GPIO numbers, such as [17, 18]");
            return;
        }
        b_.trace_pins_line = line_of(n);
        const std::string why = setting_refusal("WPISIM_TRACE_PINS", joined);
        if (!why.empty())
            error(line_of(n), "trace_pins " + quoted(joined) + ": " + why);
        else if (!b_.trace)
            error(line_of(n), "trace_pins: needs trace");
        else
            b_.trace_pins = pins;
    }

    const BenchBoard *board_named(const std::string &name) const
    {
        for (const BenchBoard &b : b_.boards)
            if (b.name == name)
                return &b;
        return nullptr;
    }

    static bool board_name_ok(const std::string &name)
    {
        return !name.empty() && name.size() <= 15 &&
               name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string::npos;
    }

    void read_board(const toml::table &t)
    {
        known_keys(t, "[[board]]", {"name", "kind", "firmware", "spi", "i2c", "serial"});
        BenchBoard b{"board", &default_board_kind(), "", "", -1, "", line_of(t), false};
        int name_line = b.line;
        if (const auto *v = text(t, "name")) {
            name_line = line_of(*v);
            if (board_name_ok(v->get()))
                b.name = v->get();
            else
                error(name_line, "name " + quoted(v->get()) +
                                     ": not a board name (1 to 15 of a-z, 0-9 and -)");
        }
        if (const BenchBoard *same = board_named(b.name))
            error(name_line, "board " + quoted(b.name) + " is named twice (also on line " +
                                 std::to_string(same->line) + ")");
        if (const auto *v = text(t, "kind"); word(v, "kind", "WPISIM_BOARD")) {
            b.kind = find_board_kind(v->get());
            b.kind_given = true;
        }
        if (const auto *v = text(t, "firmware")) {
            b.firmware = beside(path_, v->get());
            const std::string why = firmware_problem(b.firmware, *b.kind);
            if (!why.empty())
                error(line_of(*v), "firmware " + quoted(v->get()) + ": " + why);
        }
        read_buses(t, b);
        b_.boards.push_back(std::move(b));
    }

    // Where a board sits on the Pi's buses: its chip select, address, serial.
    void read_buses(const toml::table &t, BenchBoard &b)
    {
        if (const auto *v = text(t, "spi")) {
            const std::string &ce = v->get();
            if (ce != "ce0" && ce != "ce1")
                error(line_of(*v), "spi " + quoted(ce) + ": not ce0 or ce1");
            else if (const BenchBoard *other = user(&BenchBoard::spi, ce))
                error(line_of(*v), ce + " is taken by " + said(*other));
            else
                b.spi = ce;
        }
        if (const auto *v = integer(t, "i2c")) {
            const long address = static_cast<long>(v->get());
            if (address < 0x08 || address > 0x77)
                error(line_of(*v),
                      "i2c " + std::to_string(address) + ": not an I2C address (0x08 to 0x77)");
            else if (const BenchBoard *other = user(&BenchBoard::i2c, static_cast<int>(address)))
                error(line_of(*v),
                      "I2C address " + hex_address(address) + " is taken by " + said(*other));
            else
                b.i2c = static_cast<int>(address);
        }
        if (const auto *v = text(t, "serial")) {
            const std::string &how = v->get();
            if (how != "uart" && how != "usb")
                error(line_of(*v), "serial " + quoted(how) + ": not uart or usb");
            else if (const BenchBoard *other =
                         how == "uart" ? user(&BenchBoard::serial, how) : nullptr)
                error(line_of(*v), "the Pi's UART is taken by " + said(*other));
            else
                b.serial = how;
        }
    }

    template <class T> const BenchBoard *user(T BenchBoard::*member, const T &value) const
    {
        for (const BenchBoard &b : b_.boards)
            if (b.*member == value)
                return &b;
        return nullptr;
    }

    static std::string said(const BenchBoard &b)
    {
        return "board " + quoted(b.name) +
               (b.line > 0 ? " (line " + std::to_string(b.line) + ")" : "");
    }

    // The board that uses a Pi bus, or null.
    const BenchBoard *bus_user(const std::string &bus) const
    {
        for (const BenchBoard &b : b_.boards)
            if ((bus == "spi" && !b.spi.empty()) || (bus == "i2c" && b.i2c >= 0) ||
                (bus == "uart" && b.serial == "uart"))
                return &b;
        return nullptr;
    }

    void read_wire(const toml::table &t)
    {
        known_keys(t, "[[wire]]", {"pi", "board", "pin", "divider"});
        BenchWire w{-1, "", "", {0, 0}, false, line_of(t)};
        if (const auto *v = value<bool>(t, "divider", "true or false"))
            w.divider = v->get();
        const BenchBoard *board = wire_board(t, w.line);
        if (board != nullptr)
            w.board = board->name;
        const auto *gpio = integer(t, "pi");
        if (gpio == nullptr && t.get("pi") == nullptr)
            error(w.line, "[[wire]] needs pi, the Pi's BCM GPIO");
        if (gpio != nullptr)
            w.gpio = pi_gpio(*gpio);
        const auto *pin = text(t, "pin");
        if (pin == nullptr && t.get("pin") == nullptr)
            error(w.line, "[[wire]] needs pin, the board's pin");
        bool pin_ok = false;
        if (pin != nullptr && board != nullptr) {
            w.pin = pin->get();
            pin_ok = board_side(*pin, *board, w);
        }
        for (const BenchWire &other : b_.wires) {
            if (w.gpio >= 0 && other.gpio == w.gpio)
                error(line_of(*gpio), "GPIO " + std::to_string(w.gpio) +
                                          " is wired twice (also on line " +
                                          std::to_string(other.line) + ")");
            if (pin_ok && other.board == w.board && other.board_pin == w.board_pin)
                error(line_of(*pin), w.board + "'s " + board_pin_name(*board->kind, w.board_pin) +
                                         " is wired twice (also on line " +
                                         std::to_string(other.line) + ")");
        }
        b_.wires.push_back(std::move(w));
    }

    // The board a wire names, or the one board there is; null after an error.
    const BenchBoard *wire_board(const toml::table &t, int line)
    {
        if (const auto *v = text(t, "board")) {
            const BenchBoard *board = board_named(v->get());
            if (board == nullptr) {
                std::string names;
                for (const BenchBoard &b : b_.boards)
                    names.append(names.empty() ? "" : ", ").append(b.name);
                error(line_of(*v), "board " + quoted(v->get()) + ": no such board (" + names + ")");
            }
            return board;
        }
        if (b_.boards.size() == 1)
            return b_.boards.data();
        if (t.get("board") == nullptr)
            error(line, "[[wire]] needs board: the bench has " + std::to_string(b_.boards.size()) +
                            " boards");
        return nullptr;
    }

    // The GPIO if the Pi has it free, else -1.
    int pi_gpio(const toml::value<std::int64_t> &v)
    {
        const std::string said_gpio = "pi " + std::to_string(v.get());
        if (v.get() < 0 || v.get() > 57) {
            error(line_of(v), said_gpio + ": not a BCM GPIO (0 to 57)");
            return -1;
        }
        const int gpio = static_cast<int>(v.get());
        const pi::Model &m = *pi::find_model(b_.model.value_or("pi4"));
        if (pi::bcm_to_phys(m, gpio) == pi::no_gpio) {
            error(line_of(v), said_gpio + ": not on the header of a " + std::string(m.word));
            return -1;
        }
        // The header's bus pins, by their place, as the first Model B's I2C is GPIO 0 and 1.
        struct Bus {
            const char *bus;
            int physical[5];
        };
        static const Bus buses[] = {
            {"i2c", {3, 5, 0, 0, 0}}, {"uart", {8, 10, 0, 0, 0}}, {"spi", {19, 21, 23, 24, 26}}};
        for (const Bus &bus : buses)
            for (const int physical : bus.physical)
                for (const pi::HeaderPin &h : pi::header(m))
                    if (physical != 0 && h.physical == physical && h.bcm == gpio)
                        if (const BenchBoard *b = bus_user(bus.bus)) {
                            error(line_of(v),
                                  said_gpio + ": the Pi's " + h.name + ", in use by " + said(*b));
                            return -1;
                        }
        return gpio;
    }

    // The board's pin, if it has it and no link of its own in use takes it.
    bool board_side(const toml::value<std::string> &pin, const BenchBoard &board, BenchWire &w)
    {
        const BoardKind &k = *board.kind;
        const auto found = board_pin(k, pin.get());
        if (!found) {
            const int analog = static_cast<int>(std::strlen(k.pin_ports)) - k.digital_pins;
            error(line_of(pin), "pin " + quoted(pin.get()) + ": not a pin of the " + k.name +
                                    " (D0 to D" + std::to_string(k.digital_pins - 1) + ", A0 to A" +
                                    std::to_string(analog - 1) + ", or a port pin such as PD2)");
            return false;
        }
        w.board_pin = *found;
        struct Use {
            bool used;
            BoardPin pin;
            const char *name;
            std::string key;
        };
        const Use uses[] = {
            {!board.spi.empty(), k.spi_ss, "SPI SS", "spi = \"" + board.spi + "\""},
            {!board.spi.empty(), k.spi_mosi, "SPI MOSI", "spi = \"" + board.spi + "\""},
            {!board.spi.empty(), k.spi_miso, "SPI MISO", "spi = \"" + board.spi + "\""},
            {!board.spi.empty(), k.spi_sck, "SPI SCK", "spi = \"" + board.spi + "\""},
            {board.i2c >= 0, k.twi_sda, "I2C SDA", "i2c = " + hex_address(board.i2c)},
            {board.i2c >= 0, k.twi_scl, "I2C SCL", "i2c = " + hex_address(board.i2c)},
            {board.serial == "uart", k.uart_rx, "UART RX", "serial = \"uart\""},
            {board.serial == "uart", k.uart_tx, "UART TX", "serial = \"uart\""},
        };
        std::string taken;
        for (const Use &u : uses)
            if (taken.empty() && u.used && u.pin == *found)
                taken = "the " + board.name + "'s " + u.name + ", in use (" + u.key + ")";
        if (taken.empty())
            return true;
        error(line_of(pin), "pin " + quoted(pin.get()) + ": " + taken);
        return false;
    }

    const std::string &path_;
    Bench &b_;
    std::vector<const toml::table *> boards_, wires_;
};

std::vector<std::string> in_file_order(const std::string &path, std::vector<Error> errors)
{
    std::stable_sort(errors.begin(), errors.end(),
                     [](const Error &a, const Error &b) { return a.line < b.line; });
    std::vector<std::string> out;
    out.reserve(errors.size());
    for (const Error &e : errors)
        out.push_back(path + ":" + std::to_string(e.line) + ": " + e.what);
    return out;
}

} // namespace

std::vector<std::string> check_bench_text(const std::string &text, const std::string &path,
                                          Bench *out)
{
    Bench bench;
    bench.path = path;
    std::vector<Error> errors;
    try {
        const toml::table root = toml::parse(text, path);
        Checker checker(path, bench);
        checker.run(root);
        errors = std::move(checker.errors);
    } catch (const toml::parse_error &e) {
        errors.push_back({static_cast<int>(e.source().begin.line), std::string(e.description())});
    }
    if (out != nullptr)
        *out = std::move(bench);
    return in_file_order(path, std::move(errors));
}

std::vector<std::string> check_bench_file(const std::string &path, Bench *out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return {path + ": " + std::strerror(errno)};
    std::ostringstream text;
    text << in.rdbuf();
    return check_bench_text(text.str(), path, out);
}

std::optional<std::pair<int, int>> wire_table_lines(const std::string &text, int gpio)
{
    toml::table root;
    try {
        root = toml::parse(text);
    } catch (const toml::parse_error &) {
        return std::nullopt;
    }
    const toml::array *wires = root["wire"].as_array();
    for (std::size_t i = 0; wires != nullptr && i < wires->size(); ++i) {
        const toml::table *t = (*wires)[i].as_table();
        if (t == nullptr || (*t)["pi"].value<std::int64_t>() != gpio)
            continue;
        // The table's source is its header; its keys' values end it.
        int last = line_of(*t);
        for (auto &&[key, node] : *t)
            last = std::max(last, static_cast<int>(node.source().end.line));
        return std::make_pair(line_of(*t), last);
    }
    return std::nullopt;
}

} // namespace wpisim
