// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "clock_limit.hpp"

#include "avr_board.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace wpisim
{

namespace
{

// How far after the interrupt's start the sweep goes: longer than any
// handler of a few hundred instructions.
constexpr long after_cycles = 1024;

// A periodic interrupt's handler starts late when another handler runs at
// its time; its own timing is the commonest interval between starts, and the
// earliest phase in that period.
struct Seen {
    std::vector<std::uint64_t> starts;
    std::uint64_t period = 0;
    std::uint64_t phase = 0;

    void learn()
    {
        std::map<std::uint64_t, int> intervals;
        int most = 0;
        for (std::size_t i = 1; i < starts.size(); ++i)
            if (const int n = ++intervals[starts[i] - starts[i - 1]]; n > most) {
                most = n;
                period = starts[i] - starts[i - 1];
            }
        // Seen once or twice is no period.
        if (most < 3) {
            period = 0;
            return;
        }
        phase = period;
        for (const std::uint64_t s : starts)
            phase = std::min(phase, s % period);
    }
    // Its first start, undelayed, from this cycle on.
    std::uint64_t next(std::uint64_t from) const
    {
        return from - from % period + phase + (from % period > phase ? period : 0);
    }
};

} // namespace

PhaseSweep sweep_phases(const std::string &firmware, const BoardKind &kind, double sclk_hz,
                        std::string *why)
{
    PhaseSweep result;
    result.sclk_hz = sclk_hz;
    std::unique_ptr<AvrBoard> board = make_avr_board(firmware, kind, why);
    if (!board)
        return result;
    board->power_on();
    std::map<int, Seen> seen;
    bool learning = true;
    board->watch_interrupts([&](int vector, std::uint64_t cycle) {
        if (learning)
            seen[vector].starts.push_back(cycle);
    });
    const auto bit_ns = static_cast<std::int64_t>(std::llround(1e9 / sclk_hz));
    const double half_bit = static_cast<double>(bit_ns) * board->frequency() / 2e9;
    // CE0 low for two bytes, half a bit either side.
    const auto exchange_cycles = static_cast<long>(std::ceil(33 * half_bit));
    const std::uint64_t warm_gap = board->frequency() / 200; // 5 ms
    bool odd = false;
    auto exchange = [&](std::uint64_t at) {
        unsigned char data[2] = {static_cast<unsigned char>(odd ? 'b' : 'a'),
                                 static_cast<unsigned char>(odd ? 'd' : 'c')};
        odd = !odd;
        board->exchange_at_cycle(data, 2, at, bit_ns, 0);
        return std::string(reinterpret_cast<const char *>(data), 2);
    };
    // Long enough for every periodic interrupt to show its period twice.
    for (int i = 0; i < 100; ++i)
        exchange(board->cycle() + warm_gap);
    learning = false;
    for (auto &[vector, s] : seen) {
        s.learn();
        if (s.period == 0)
            continue;
        for (long offset = -exchange_cycles - after_cycles; offset <= after_cycles; ++offset) {
            // The interrupt's next start far enough ahead for CE0 to fall
            // at this offset from it, with the bus idle for a while before.
            const std::uint64_t next =
                s.next(board->cycle() + warm_gap + static_cast<std::uint64_t>(exchange_cycles) +
                       static_cast<std::uint64_t>(after_cycles));
            const std::string reply = exchange(next + static_cast<std::uint64_t>(offset));
            ++result.exchanges;
            if (reply != "w0") {
                if (result.wrong == 0) {
                    result.first_wrong_offset = offset;
                    result.first_wrong_reply = reply;
                    result.vector = vector;
                }
                ++result.wrong;
            }
        }
    }
    if (result.exchanges == 0)
        *why = "the firmware runs no periodic interrupt to sweep against";
    return result;
}

} // namespace wpisim
