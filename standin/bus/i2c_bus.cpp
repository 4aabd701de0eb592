// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The Pi's I2C bus: the simulated board's TWI is its one slave, at the
// address its firmware set; with another peer on SPI, or no board, nothing
// answers and every address is NACKed.
#include "i2c_bus.hpp"

#include "bench_clock.hpp"
#include "board_client.hpp"
#include "clock.hpp"
#include "diagnostic.hpp"
#include "event_log.hpp"
#include "link.hpp"
#include "settings.hpp"
#include "trace.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace wpisim::i2c
{

namespace
{

// How long the Pi's controller lets a slave hold SCL low (i2c-bcm2835: 35 ms).
constexpr std::int64_t stretch_limit_ns = 35000000;

// The board, where it is the peer; null for an empty bus.
BoardSession *board()
{
    static BoardSession *const session = [] {
        const auto peer = setting_text("WPISIM_PEER");
        if (setting_text("WPISIM_REPLIES") || (peer && *peer != "board"))
            return static_cast<BoardSession *>(nullptr);
        return board_session(peer.has_value());
    }();
    return session;
}

// An empty bus: the first address goes out and nobody ACKs it, then a STOP.
std::int64_t unanswered(const Message &first, std::int64_t start, std::int64_t bit_ns,
                        std::vector<I2cLevel> *lines)
{
    const std::int64_t half = bit_ns / 2;
    const std::int64_t quarter = bit_ns / 4;
    const int address = first.address << 1 | (first.read ? 1 : 0);
    int sda = 0;
    lines->push_back({start, 1, 0});
    std::int64_t low = start + half;
    lines->push_back({low, 0, 0});
    for (int bit = 0; bit < 10; ++bit) {
        // Nine bits, the ninth released and read as NACK; then SDA low for the STOP.
        const int level = bit < 8 ? address >> (7 - bit) & 1 : bit == 8 ? 1 : 0;
        if (level != sda)
            lines->push_back({low + quarter, 0, sda = level});
        lines->push_back({low + half, 1, sda});
        if (bit == 9)
            break;
        low += bit_ns;
        lines->push_back({low, 0, sda});
    }
    const std::int64_t end = low + bit_ns;
    lines->push_back({end, 1, 1});
    return end;
}

} // namespace

void set_up()
{
    run_trace();
    board();
}

namespace
{

// What became of a transfer.
struct Outcome {
    int error = EREMOTEIO;
    std::int64_t began = 0;
    std::int64_t end = 0;
    std::int64_t peer_cpu = 0;
};

// The transfer on the board, with the lines' changes if lines is given.
Outcome on_board(BoardSession &board, Message *messages, int count, std::int64_t start,
                 std::int64_t bit_ns, std::vector<I2cLevel> *lines)
{
    link::I2cRequest req{};
    req.parts = count;
    req.start_ns = start;
    req.bit_ns = bit_ns;
    req.lines = lines != nullptr ? 1 : 0;
    std::string tail;
    std::int64_t bytes = 0;
    std::size_t reads = 0;
    for (int i = 0; i < count; ++i) {
        const Message &m = messages[i];
        link::I2cPart part{};
        part.address = static_cast<std::uint16_t>(m.address);
        part.read = m.read ? 1 : 0;
        part.len = m.len;
        tail.append(reinterpret_cast<const char *>(&part), sizeof part);
        if (m.read)
            reads += static_cast<std::size_t>(m.len);
        else
            tail.append(reinterpret_cast<const char *>(m.data), static_cast<std::size_t>(m.len));
        bytes += m.len + 1;
    }
    // Its time on the wire, and each byte's slave holding SCL to the limit.
    const std::int64_t limit =
        bytes * 9 * bit_ns + (bytes + 1) * stretch_limit_ns + link::silence_limit_ns;
    const link::Message m =
        board.ask_board("I2C transfer", link::encode(link::i2c, req, tail), limit);
    link::I2cAnswer a{};
    if (m.kind != link::i2c_answer || !m.fixed_as(&a) ||
        m.tail.size() !=
            reads + static_cast<std::size_t>(std::max(a.lines, 0)) * sizeof(link::I2cLine))
        fail("board", "the board process failed the I2C transfer: an answer out of step");
    std::size_t at = 0;
    for (int i = 0; i < count; ++i)
        if (messages[i].read) {
            const auto len = static_cast<std::size_t>(messages[i].len);
            std::memcpy(messages[i].data, m.tail.data() + at, len);
            at += len;
        }
    for (std::int32_t i = 0; lines != nullptr && i < a.lines; ++i) {
        link::I2cLine l{};
        std::memcpy(&l, m.tail.data() + at + i * sizeof l, sizeof l);
        lines->push_back({l.at_ns, l.scl, l.sda});
    }
    return {a.error, a.start_ns, a.end_ns, a.report.cpu_ns};
}

} // namespace

int transfer(const char *call, int fd, Message *messages, int count, int hz)
{
    const std::int64_t bit_ns = 1000000000LL / hz;
    const std::int64_t start = bench_now_ns();
    Trace *trace = run_trace();
    std::vector<I2cLevel> lines;
    Outcome o;
    if (BoardSession *b = board()) {
        o = on_board(*b, messages, count, start, bit_ns, trace != nullptr ? &lines : nullptr);
    } else {
        o.began = start;
        o.end = unanswered(messages[0], start, bit_ns, &lines);
    }
    if (trace != nullptr)
        trace->i2c(lines, bit_ns);
    Record rec("i2c-transfer");
    rec.text("call", call).num("fd", fd).num("address", messages[0].address);
    for (int i = 0; i < count; ++i) {
        const Message &m = messages[i];
        if (m.address != messages[0].address)
            rec.num("address", m.address);
        rec.bytes(m.read ? "in" : "out", m.data, m.read && o.error != 0 ? 0 : m.len);
    }
    rec.num("hz", hz).num("start_ns", o.began).num("end_ns", o.end).num("errno", o.error);
    if (o.peer_cpu != 0)
        rec.num("peer_cpu_ns", o.peer_cpu);
    rec.emit();
    bench_wait_until(o.end);
    return o.error;
}

} // namespace wpisim::i2c
