// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim gdb: avr-gdb on a simulated board, as on a real one with a debugger
// probe. The board process opens simavr's stub; this says where.

#include "gdb_command.hpp"

#include "bench_file.hpp"
#include "board_client.hpp"
#include "board_process.hpp"
#include "clock.hpp"
#include "link.hpp"
#include "message.hpp"
#include "settings.hpp"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace wpisim
{

namespace
{

struct GdbArgs {
    std::string board; // the bench's name; empty for the first
    std::int32_t port = link::keep_port;
    bool halt = false;
    std::string what = "gdb"; // the command as errors name it
};

GdbArgs parse(const std::vector<std::string> &args)
{
    GdbArgs g;
    bool named = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--port" && i + 1 < args.size()) {
            const auto n = decimal(args[++i], 0, 65535);
            if (!n)
                exit_with("usage", "gdb --port " + quoted(args[i]) +
                                       ": not a port (0 to 65535; 0 takes any free one) "
                                       "(wpisim --help)");
            g.port = static_cast<std::int32_t>(*n);
            g.what = "gdb --port " + args[i];
        } else if (args[i] == "--halt") {
            g.halt = true;
        } else if (!named && args[i].rfind("--", 0) != 0) {
            g.board = args[i];
            named = true;
        } else {
            exit_with("usage", "gdb takes [BOARD] [--port N] [--halt] (wpisim --help)");
        }
    }
    const BenchBoard *b = bench_board(g.board);
    if (b == nullptr)
        exit_with("gdb " + quoted(g.board),
                  "not a board of the bench (" + bench_board_names() + ")");
    g.board = state_name(*b);
    return g;
}

// A path as a shell takes it back.
std::string shell_word(const std::string &text)
{
    if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTU"
                                                "VWXYZ0123456789_./+-") == std::string::npos)
        return text;
    std::string word = "'";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

} // namespace

int gdb_command(const std::vector<std::string> &args)
{
    const GdbArgs g = parse(args);
    // A board not running yet starts, as for a run; held while the stub opens.
    std::unique_ptr<Peer> holding;
    const auto s = board_status(g.board);
    if (!s || s->answer.name[0] == '\0')
        holding = g.board.empty() ? make_board_peer(true) : make_board_peer_of(g.board, false);
    const int fd = find_board_process();
    if (fd < 0)
        exit_with(g.what, "the board process ended");
    link::DebugRequest req{};
    req.port = g.port;
    req.halt = g.halt ? 1 : 0;
    std::string why;
    link::Message m;
    const std::int64_t deadline = now_ns() + link::silence_limit_ns;
    const bool answered = link::send(fd, link::encode(link::debug, req, g.board), deadline, &why) &&
                          link::read_answer(fd, &m, deadline, &why);
    close(fd);
    link::DebugAnswer a{};
    if (!answered || m.kind != link::debug_answer || !m.fixed_as(&a))
        exit_with(g.what, "the board process failed the request: " +
                              (answered ? std::string("an answer out of step") : why));
    if (a.ok == 0)
        exit_with(g.what, m.tail);
    const std::string port = std::to_string(a.port);
    std::printf("board %s (board process %d): avr-gdb's stub on localhost:%s%s\n",
                quoted(g.board.empty() ? first_board().name : g.board).c_str(), a.pid, port.c_str(),
                a.halted != 0 ? ", halted" : "");
    std::printf("avr-gdb %s -ex 'target remote localhost:%s'\n", shell_word(m.tail).c_str(),
                port.c_str());
    if (m.tail.size() > 4 && m.tail.compare(m.tail.size() - 4, 4, ".hex") == 0)
        std::printf("(Intel HEX holds no symbols: give avr-gdb the ELF of the same build, "
                    "made with -g)\n");
    return 0;
}

} // namespace wpisim
