// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "run_wires.hpp"

#include "board_client.hpp"
#include "board_line.hpp"
#include "diagnostic.hpp"
#include "link.hpp"

#include <cstdlib>
#include <cstring>
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

// TMP until the bench file: GPIO:PORTBIT,...
std::vector<link::WireSpec> bench_wires()
{
    std::vector<link::WireSpec> wires;
    const char *text = std::getenv("WPISIM_TMP_WIRES");
    if (text == nullptr)
        return wires;
    std::string s = text;
    for (std::size_t from = 0; from < s.size();) {
        std::size_t comma = s.find(',', from);
        if (comma == std::string::npos)
            comma = s.size();
        const std::string item = s.substr(from, comma - from);
        link::WireSpec w{};
        const std::size_t colon = item.find(':');
        w.gpio = std::atoi(item.substr(0, colon).c_str());
        w.port = item[colon + 1];
        w.bit = static_cast<std::uint8_t>(item[colon + 2] - '0');
        w.divider = item.size() > colon + 3 ? 1 : 0;
        wires.push_back(w);
        from = comma + 1;
    }
    return wires;
}

} // namespace

void wire_run_to_board()
{
    const std::vector<link::WireSpec> wires = bench_wires();
    if (wires.empty())
        return;
    BoardSession *board = session();
    if (board == nullptr)
        return;
    const std::string why = board->wire(wires);
    if (!why.empty())
        fail("board wires", why);
    std::vector<int> gpios;
    for (const link::WireSpec &w : wires)
        gpios.push_back(w.gpio);
    gpio::wire_to_board(gpios.data(), static_cast<int>(gpios.size()), {pi_side, sync});
}

} // namespace wpisim
