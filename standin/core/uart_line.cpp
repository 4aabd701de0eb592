// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "uart_line.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace wpisim
{

namespace
{

int parity_of(unsigned data, const UartFormat &f)
{
    int ones = 0;
    for (int i = 0; i < f.data_bits; ++i)
        ones += static_cast<int>(data >> i & 1);
    return f.parity == 'O' ? (ones + 1) % 2 : ones % 2;
}

// Bit k of a frame: start, data from the LSB, parity, stop bits.
int frame_bit(const LineFrame &frame, const UartFormat &f, int k)
{
    if (k == 0)
        return 0;
    if (k <= f.data_bits)
        return frame.byte >> (k - 1) & 1;
    if (f.parity != 'N' && k == f.data_bits + 1)
        return parity_of(frame.byte, f);
    return 1;
}

} // namespace

double UartLine::send(std::uint8_t byte, double at_ns)
{
    const double start = std::max(at_ns, busy_until_);
    sent_.push_back({{start, byte}, tx_});
    busy_until_ = start + tx_.frame_ns();
    return busy_until_;
}

int UartLine::level(double t) const
{
    for (const Sent &s : sent_) {
        if (t < s.frame.start_ns)
            break;
        const int k = static_cast<int>((t - s.frame.start_ns) / s.format.bit_ns);
        if (k < s.format.frame_bits())
            return frame_bit(s.frame, s.format, k);
    }
    return 1;
}

double UartLine::falling_edge(double t) const
{
    for (const Sent &s : sent_) {
        const UartFormat &f = s.format;
        if (s.frame.start_ns + f.frame_ns() <= t)
            continue;
        // Before a frame the line is high: idle, or the last one's stop bit.
        int before = 1;
        for (int k = 0; k < f.frame_bits(); ++k) {
            const int bit = frame_bit(s.frame, f, k);
            const double at = s.frame.start_ns + k * f.bit_ns;
            if (before == 1 && bit == 0 && at >= t)
                return at;
            before = bit;
        }
    }
    return -1;
}

std::vector<Received> UartLine::receive(double now_ns)
{
    std::vector<Received> out;
    // Nothing sent later can start before this.
    const double settled = std::max(now_ns, busy_until_);
    const double bit = rx_.bit_ns;
    for (;;) {
        const double edge = falling_edge(look_from_);
        if (edge < 0)
            break;
        const int before_stop = 1 + rx_.data_bits + (rx_.parity == 'N' ? 0 : 1);
        const double stop_at = edge + (before_stop + 0.5) * bit;
        if (stop_at > settled)
            break;
        // A low that is gone by mid-bit is a glitch, not a start bit.
        if (level(edge + bit / 2) != 0) {
            look_from_ = edge + bit / 2;
            continue;
        }
        Received r;
        unsigned data = 0;
        for (int i = 0; i < rx_.data_bits; ++i)
            data |= static_cast<unsigned>(level(edge + (1.5 + i) * bit)) << i;
        r.byte = static_cast<std::uint8_t>(data);
        if (rx_.parity != 'N')
            r.parity_error = level(edge + (rx_.data_bits + 1.5) * bit) != parity_of(data, rx_);
        r.framing_error = level(stop_at) == 0;
        r.at_ns = stop_at;
        out.push_back(r);
        // The receiver looks for the next start bit from its stop bit's middle.
        look_from_ = stop_at;
    }
    while (!sent_.empty() &&
           sent_.front().frame.start_ns + sent_.front().format.frame_ns() <= look_from_)
        sent_.pop_front();
    return out;
}

std::vector<Received> send_and_receive(const std::vector<std::uint8_t> &bytes,
                                       const UartFormat &sender, const UartFormat &receiver)
{
    UartLine line(sender, receiver);
    for (const std::uint8_t b : bytes)
        line.send(b, 0);
    // Long enough after the last frame for any receiver to finish its own.
    return line.receive(line.busy_until() + 2 * receiver.frame_ns());
}

UartFormat uart_format(double baud, const char *framing)
{
    UartFormat f;
    f.bit_ns = 0;
    if (baud <= 0 || std::strlen(framing) != 3 || framing[0] < '5' || framing[0] > '8' ||
        std::strchr("NEO", framing[1]) == nullptr || (framing[2] != '1' && framing[2] != '2'))
        return f;
    f.bit_ns = 1e9 / baud;
    f.data_bits = framing[0] - '0';
    f.parity = framing[1];
    f.stop_bits = framing[2] - '0';
    return f;
}

} // namespace wpisim
