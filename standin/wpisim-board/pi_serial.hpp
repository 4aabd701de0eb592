// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The Pi's UART, wired to the board's D0 and D1: a pseudo-terminal of the
// board process, linked as pi.tty in the state directory, that the stand-in
// opens for /dev/serial0. Each side's UART has its own rate and framing (the
// Pi's from the terminal's settings, the board's from its registers), and
// the bytes take their time on the line: what each receiver gets is what
// its UART makes of the other's bits.

#include "avr_board.hpp"
#include "uart_line.hpp"

#include <cstdint>
#include <deque>
#include <string>

namespace wpisim
{

class PiSerial
{
  public:
    // The terminal in dir; why, when it cannot be made.
    PiSerial(std::string dir, std::string *why);
    ~PiSerial();
    PiSerial(const PiSerial &) = delete;
    PiSerial &operator=(const PiSerial &) = delete;

    // A program has the Pi's port open: its TX then drives the board's RX.
    bool pi_open();

    // The board's UART started sending a byte at at_ns.
    void board_sent(std::uint8_t byte, std::int64_t at_ns, const UartFormat &board);
    // What the Pi has written goes on the line from at_ns; waits a moment
    // for at least the bytes the run says it wrote (written) to show. On the
    // virtual clock all it wrote is taken at once, as its time is known.
    void take_pi_writes(AvrBoard &board, std::int64_t at_ns, std::uint64_t written);
    // On the virtual clock, between requests: what the Pi writes is kept
    // for the next sync, which puts it on the line at the run's time, so a
    // write larger than the terminal holds never waits for ever.
    void hold_pi_writes();
    // In wall time only what the line carries within its FIFO's time of
    // at_ns, so the Pi's writes wait for the line as they do on a Pi.
    void pace_pi_writes(AvrBoard &board, std::int64_t at_ns);
    // Moves both lines on to now_ns: the board's receiver gets its bytes, and
    // those due at the Pi by then go into its port. How many went to the Pi.
    int advance(AvrBoard &board, std::int64_t now_ns);
    // When the next byte known to be on its way reaches the Pi, or -1.
    std::int64_t next_arrival() const;
    // The shortest frame either side sends now: no byte reaches the Pi
    // sooner than this after the board starts it.
    double shortest_frame_ns(const AvrBoard &board) const;

  private:
    UartFormat pi_format() const;
    // Reads at most limit bytes the Pi wrote onto the line from at_ns.
    std::uint64_t read_pi(std::int64_t at_ns, std::uint64_t limit);
    void hand_over(AvrBoard &board, std::int64_t at_ns);

    std::string dir_;
    int master_ = -1;
    UartLine to_board_;
    UartLine to_pi_;
    std::deque<Received> due_; // taken by the Pi's UART, not yet in its port
    std::string held_;         // written by the Pi, for the next sync
};

} // namespace wpisim
