// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "run_wires.hpp"

#include "bench_clock.hpp"
#include "bench_file.hpp"
#include "board_client.hpp"
#include "board_line.hpp"
#include "diagnostic.hpp"
#include "link.hpp"
#include "run_hold.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace wpisim
{

namespace
{

BoardSession *session()
{
    static BoardSession *const s = board_session(true);
    return s;
}

void pi_side(int gpio, int side, std::int64_t at_ns)
{
    session()->pi_pin(gpio, side, at_ns);
}

std::int64_t sync(std::int64_t until_ns, bool stop_at_change)
{
    return session()->sync(until_ns, stop_at_change).change_ns;
}

std::vector<link::WireEnds> bench_wires()
{
    std::vector<link::WireEnds> wires;
    wires.reserve(the_bench().wires.size());
    for (const BenchWire &w : the_bench().wires) {
        link::WireEnds wire{};
        wire.gpio = w.gpio;
        wire.port = w.board_pin.port;
        wire.bit = w.board_pin.bit;
        wire.divider = w.divider ? 1 : 0;
        std::snprintf(wire.board, sizeof wire.board, "%s", w.board.c_str());
        wires.push_back(wire);
    }
    return wires;
}

} // namespace

void wire_run_to_board()
{
    // wpisim run, waiting on a board's serial port, has the boards run to
    // each hold, wires or none.
    on_run_hold_boards([] {
        if (gpio::any_wired())
            gpio::board_to_now();
        else if (BoardSession *s = session())
            s->sync(bench_now_ns(), false);
    });
    const std::vector<link::WireEnds> wires = bench_wires();
    if (wires.empty())
        return;
    BoardSession *board = session();
    if (board == nullptr)
        return;
    const std::string why = board->wire(wires);
    if (!why.empty())
        fail("board wires", why);
    std::vector<int> gpios;
    gpios.reserve(wires.size());
    for (const link::WireEnds &w : wires)
        gpios.push_back(w.gpio);
    gpio::wire_to_board(gpios.data(), static_cast<int>(gpios.size()), {pi_side, sync});
    // The board runs to the run's end, so what the run's last calls did to it
    // (a short, a level it answers) happens, and is told, before it ends.
    std::atexit([] { gpio::board_to_now(); });
}

} // namespace wpisim
