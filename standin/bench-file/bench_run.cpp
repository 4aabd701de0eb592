// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The run's bench, and the values it gives the settings whose variables are
// unset.
#include "bench_file.hpp"

#include "diagnostic.hpp"
#include "message.hpp"
#include "settings.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>

namespace wpisim
{

namespace
{

Bench read_bench()
{
    Bench bench;
    bench.path = bench_file_path();
    if (bench.path.empty()) {
        bench.boards.push_back({"board", &default_board_kind(), "", "ce0", -1, "", 0, false});
        return bench;
    }
    const std::vector<std::string> errors = check_bench_file(bench.path, &bench);
    if (errors.empty())
        return bench;
    for (std::size_t i = 0; i + 1 < errors.size(); ++i)
        std::fprintf(stderr, "wpisim: %s\n", errors[i].c_str());
    // "FILE:LINE: what" is fail's what and why.
    const std::string &last = errors.back();
    const std::size_t colon = last.find(": ", bench.path.size() + 1);
    fail(last.substr(0, colon), colon == std::string::npos ? "" : last.substr(colon + 2));
}

std::string where(const Bench &b, int line, const char *key)
{
    return b.path + ":" + std::to_string(line) + ": " + key;
}

std::optional<SettingFallback> from_bench(std::string_view name)
{
    // Asked of every setting: the file is read only for its own.
    static const std::string_view ours[] = {"WPISIM_PI",         "WPISIM_TIME",  "WPISIM_TRACE",
                                            "WPISIM_TRACE_PINS", "WPISIM_BOARD", "WPISIM_FIRMWARE"};
    bool known = false;
    for (const std::string_view n : ours)
        known = known || n == name;
    if (!known)
        return std::nullopt;
    const Bench &b = the_bench();
    if (name == "WPISIM_PI" && b.model)
        return SettingFallback{*b.model, where(b, b.model_line, "model")};
    if (name == "WPISIM_TIME" && b.time)
        return SettingFallback{*b.time, where(b, b.time_line, "time")};
    if (name == "WPISIM_TRACE" && b.trace)
        return SettingFallback{*b.trace, where(b, b.trace_line, "trace")};
    if (name == "WPISIM_TRACE_PINS" && !b.trace_pins.empty()) {
        std::string pins;
        for (const int gpio : b.trace_pins)
            pins.append(pins.empty() ? "" : ",").append(std::to_string(gpio));
        return SettingFallback{pins, where(b, b.trace_pins_line, "trace_pins")};
    }
    // The first board's (on CE0, else the first written): a board on serial
    // or I2C alone is the first as much as one on CE0.
    if (b.boards.empty())
        return std::nullopt;
    const BenchBoard &board = first_board();
    if (name == "WPISIM_BOARD" && board.kind_given)
        return SettingFallback{board.kind->name, where(b, board.line, "kind")};
    if (name == "WPISIM_FIRMWARE" && !board.firmware.empty())
        return SettingFallback{board.firmware, where(b, board.line, "firmware")};
    return std::nullopt;
}

// Linked whole into every program that reads the settings (see standin's
// CMakeLists.txt), so each sees the file's values.
const struct GiveSource {
    GiveSource() noexcept { give_setting_source(&from_bench); }
} give_source;

} // namespace

std::string bench_file_path()
{
    if (const auto named = setting_text("WPISIM_BENCH")) {
        if (access(named->c_str(), R_OK) != 0)
            fail("WPISIM_BENCH=" + quoted(*named), std::strerror(errno));
        return *named;
    }
    constexpr const char *here = "wpisim.toml";
    return access(here, F_OK) == 0 ? here : "";
}

const Bench &the_bench()
{
    // Never destroyed: a thread may still read it as the program exits.
    // Looking for the file leaves errno as the program's calls left it.
    static const Bench &bench = [] {
        const int saved = errno;
        const Bench &read = *new Bench(read_bench());
        errno = saved;
        return std::cref(read);
    }();
    return bench;
}

const BenchBoard &first_board()
{
    const Bench &b = the_bench();
    for (const BenchBoard &board : b.boards)
        if (board.spi == "ce0")
            return board;
    return b.boards.front();
}

const BenchBoard *bench_board(const std::string &name)
{
    if (name.empty())
        return &first_board();
    for (const BenchBoard &board : the_bench().boards)
        if (board.name == name)
            return &board;
    return nullptr;
}

std::string state_name(const BenchBoard &b)
{
    return &b == &first_board() ? "" : b.name;
}

std::string bench_board_names()
{
    std::string names;
    for (const BenchBoard &board : the_bench().boards)
        names += (names.empty() ? "" : ", ") + board.name;
    return names;
}

} // namespace wpisim
