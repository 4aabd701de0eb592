// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// A serial line between two UARTs: frames sent at one rate and framing, and
// what a UART at its own rate and framing makes of the bits. Each side's
// settings are its own, so a mismatch gives what real hardware gives (wrong
// bytes, framing errors, bytes lost), never the bytes sent.

#include <cstdint>
#include <deque>
#include <vector>

namespace wpisim
{

struct UartFormat {
    double bit_ns = 1e9 / 9600;
    int data_bits = 8; // 5 to 8
    char parity = 'N'; // 'N', 'E' or 'O'
    int stop_bits = 1; // 1 or 2

    int frame_bits() const { return 1 + data_bits + (parity == 'N' ? 0 : 1) + stop_bits; }
    double frame_ns() const { return bit_ns * frame_bits(); }
};

// A frame on the line: its start bit begins at start_ns.
struct LineFrame {
    double start_ns = 0;
    std::uint8_t byte = 0;
};

// What a receiving UART took from the line: its byte, when it had it (the
// middle of its first stop bit) and what it found wrong.
struct Received {
    double at_ns = 0;
    std::uint8_t byte = 0;
    bool framing_error = false; // the stop bit sampled low
    bool parity_error = false;
    bool operator==(const Received &o) const
    {
        return at_ns == o.at_ns && byte == o.byte && framing_error == o.framing_error &&
               parity_error == o.parity_error;
    }
};

// One direction of a line: what the sender puts on it and the receiver at
// the far end. Frames go out back to back, each no earlier than asked.
class UartLine
{
  public:
    UartLine(const UartFormat &sender, const UartFormat &receiver) : tx_(sender), rx_(receiver) {}

    void set_sender(const UartFormat &f) { tx_ = f; }
    void set_receiver(const UartFormat &f) { rx_ = f; }
    const UartFormat &sender() const { return tx_; }
    const UartFormat &receiver() const { return rx_; }

    // Sends a byte as soon as the line is free from at_ns on; when its frame ends.
    double send(std::uint8_t byte, double at_ns);
    // When the line is free again.
    double busy_until() const { return busy_until_; }

    // What the receiver takes from the bits on the line, each frame once, as
    // soon as nothing sent from now_ns on can change it: some may be taken
    // later than now_ns (at_ns says when), once the line is settled past them.
    std::vector<Received> receive(double now_ns);

  private:
    // The line's level at t: idle high, else the bit of the frame under way.
    int level(double t) const;
    // The first falling edge at or after t, or -1 for none sent yet.
    double falling_edge(double t) const;

    UartFormat tx_;
    UartFormat rx_;
    struct Sent {
        LineFrame frame;
        UartFormat format; // the sender's when it sent it
    };
    std::deque<Sent> sent_;
    double busy_until_ = 0;
    double look_from_ = 0; // where the receiver looks for its next start bit
};

// All at once: bytes sent back to back from 0 at one format, as a UART at
// another takes them.
std::vector<Received> send_and_receive(const std::vector<std::uint8_t> &bytes,
                                       const UartFormat &sender, const UartFormat &receiver);

// The format of a baud rate with framing "8N1", "7E1", "8O2"...; bit_ns 0 if not one.
UartFormat uart_format(double baud, const char *framing);

} // namespace wpisim
