// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "board_i2c.hpp"

#include "clock.hpp"

#include <cstring>
#include <vector>

namespace wpisim
{

namespace
{

// i2c-dev's largest message.
constexpr std::int32_t max_message = 8192;
constexpr std::int32_t max_parts = 42; // I2C_RDWR_IOCTL_MAX_MSGS

} // namespace

bool serve_i2c(const link::Message &m, AvrBoard &board, std::string *out, link::I2cAnswer *answer)
{
    link::I2cRequest req{};
    if (!m.fixed_as(&req) || req.parts < 1 || req.parts > max_parts || req.bit_ns <= 0)
        return false;
    std::vector<I2cMessage> messages;
    std::size_t at = 0;
    std::size_t reads = 0;
    for (std::int32_t i = 0; i < req.parts; ++i) {
        link::I2cPart part{};
        if (m.tail.size() - at < sizeof part)
            return false;
        std::memcpy(&part, m.tail.data() + at, sizeof part);
        at += sizeof part;
        if (part.len < 0 || part.len > max_message || part.address > 0x7f)
            return false;
        const auto len = static_cast<std::size_t>(part.len);
        I2cMessage message;
        message.address = part.address;
        message.read = part.read != 0;
        if (message.read) {
            message.data.assign(len, 0);
            reads += len;
        } else {
            if (m.tail.size() - at < len)
                return false;
            message.data.assign(m.tail.begin() + static_cast<std::ptrdiff_t>(at),
                                m.tail.begin() + static_cast<std::ptrdiff_t>(at + len));
            at += len;
        }
        messages.push_back(std::move(message));
    }
    if (at != m.tail.size())
        return false;
    const std::int64_t cpu = thread_cpu_ns();
    std::vector<link::I2cLine> lines;
    link::I2cAnswer a =
        board.i2c(messages, req.start_ns, req.bit_ns, req.lines != 0 ? &lines : nullptr);
    a.report.cpu_ns = thread_cpu_ns() - cpu;
    std::string tail;
    tail.reserve(reads);
    for (const I2cMessage &message : messages)
        if (message.read)
            tail.append(message.data.begin(), message.data.end());
    // Lines that would not fit in one message are left out: the run draws none.
    const std::size_t room = (link::max_tail - tail.size()) / sizeof(link::I2cLine);
    a.lines = lines.size() <= room ? static_cast<std::int32_t>(lines.size()) : -1;
    if (a.lines > 0)
        tail.append(reinterpret_cast<const char *>(lines.data()),
                    lines.size() * sizeof(link::I2cLine));
    *out += link::encode(link::i2c_answer, a, tail);
    *answer = a;
    return true;
}

} // namespace wpisim
