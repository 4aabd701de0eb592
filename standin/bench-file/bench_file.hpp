// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The bench file, wpisim.toml: the Pi, the boards and the wires a user keeps
// with the project. Its values feed the settings whose variables are unset.

#include "board_kind.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wpisim
{

struct BenchBoard {
    std::string name;
    const BoardKind *kind;
    std::string firmware; // absolute, or empty: the flash's or the build's
    std::string spi;      // "", "ce0", "ce1"
    int i2c = -1;         // its address, or -1: not on I2C
    std::string serial;   // "", "uart", "usb"
    int line;             // of its [[board]], 0 on the default bench
    bool kind_given = false;
};

struct BenchWire {
    int gpio;
    std::string board;
    std::string pin; // as written
    BoardPin board_pin;
    bool divider;
    int line; // of its [[wire]]
};

struct Bench {
    std::string path; // empty: the default bench
    std::optional<std::string> model, time, trace;
    std::vector<int> trace_pins;
    long i2c_hz = 100000;
    std::vector<BenchBoard> boards;
    std::vector<BenchWire> wires;
    // Where each [pi] value was written, for the settings' messages.
    int model_line = 0, time_line = 0, trace_line = 0, trace_pins_line = 0;
};

// The bench file a run uses: WPISIM_BENCH, else wpisim.toml in the working
// directory if there is one; empty for none. A WPISIM_BENCH file that is
// missing ends the process.
std::string bench_file_path();

// Every error, each "FILE:LINE: what", in file order; empty when good.
std::vector<std::string> check_bench_file(const std::string &path, Bench *out);

// The same for text that is to become the file at path.
std::vector<std::string> check_bench_text(const std::string &text, const std::string &path,
                                          Bench *out);

// The first and last line of the [[wire]] table wiring gpio in text, a good
// bench file's; nullopt when none does.
std::optional<std::pair<int, int>> wire_table_lines(const std::string &text, int gpio);

// The run's bench: the file found as above, checked, or the default bench
// (one board on CE0, nothing wired). An error ends the process:
// `wpisim: FILE:LINE: what`, status 2.
const Bench &the_bench();

// The run's bench's first board: the one on CE0, else the first written. It
// starts the board process, and has the state directory's plain file names
// (board.tty, serial.log, flash).
const BenchBoard &first_board();
// The run's bench's board of that name (empty: the first), or null.
const BenchBoard *bench_board(const std::string &name);
// A board's name as its state files and the board client take it: empty
// for the first board, whose files have the plain names.
std::string state_name(const BenchBoard &b);
// Their names, for messages: "uno, sensor".
std::string bench_board_names();

} // namespace wpisim
