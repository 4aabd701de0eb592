// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "board_kind.hpp"
#include "link.hpp"
#include "twi_master.hpp"
#include "uart_line.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wpisim
{

// An AVR running a firmware in simavr, its SPI slave on the Pi's bus.
class AvrBoard
{
  public:
    AvrBoard() = default;
    AvrBoard(const AvrBoard &) = delete;
    AvrBoard &operator=(const AvrBoard &) = delete;
    virtual ~AvrBoard() = default;

    // One transfer in place, the Pi's controller in SPI mode 0-3 against the
    // slave in whatever mode its firmware set, CE0 falling at start_ns or as
    // soon after as the bus is free. Returns when it really began.
    virtual std::int64_t exchange(unsigned char *data, int len, std::int64_t start_ns,
                                  std::int64_t bit_ns, int mode) = 0;
    virtual const link::BoardReport &last_report() const = 0;
    // Runs the board from reset for a moment, as a board that has been on a
    // while before anyone talks to it; its serial output goes where on_serial
    // said by then.
    virtual void power_on() = 0;
    // From here on, simulated time now_ns is the AVR's cycle now: for a
    // board that changes from wall time to virtual time, or back.
    virtual void rebase(std::int64_t now_ns) = 0;

    // Runs the AVR on towards simulated time now_ns, never past it, for at
    // most budget_ns of host time; true once it is there. An AVR more than
    // max_behind_ns behind slips: simulated time gives way, rather than a
    // catch-up without end on a host slower than the board.
    virtual bool run_towards(std::int64_t now_ns, std::int64_t max_behind_ns,
                             std::int64_t budget_ns) = 0;
    // What the board shows now, as after an exchange.
    virtual const link::BoardReport &report_now() = 0;

    // The serial port, UART0: each byte the firmware sends, and a byte to it;
    // false while the UART cannot take one.
    virtual void on_serial(std::function<void(std::uint8_t)> sent) = 0;
    virtual bool serial_in(std::uint8_t byte) = 0;
    // Called every busy_every_ns of host time that one exchange or power-on
    // keeps running the AVR, so the board process can look after its other
    // runs. False gives up the rest of an exchange's catch-up: simulated time
    // slips to the transfer's start, which then goes on at once.
    virtual void on_busy(std::function<bool()> busy) = 0;
    // The UART's line format as its registers set it (UBRR0, U2X0, UCSR0B/C).
    virtual UartFormat uart_format() const = 0;
    // A byte the UART's receiver completes at at_ns, with its framing error:
    // handed to the UART then, or at once if that time has passed.
    virtual void serial_in_at(std::int64_t at_ns, std::uint8_t byte, bool framing_error) = 0;
    static constexpr std::int64_t busy_every_ns = 20000000;

    // The board's pins wired to the Pi's GPIO, each a port letter and bit:
    // empty, or why one is not this board's. changed hears each change of a
    // wire's side, the board's (board true) or the Pi's as the AVR gets it,
    // a link::WireSide, at its time on the bench clock.
    using WireChanged = std::function<void(int wire, bool board, int side, std::int64_t at_ns)>;
    virtual std::string set_wires(const std::vector<link::WireEnds> &wires,
                                  WireChanged changed) = 0;
    // What the Pi puts on a wire from at_ns on (at once, if that is past).
    virtual void pi_side(int wire, int side, std::int64_t at_ns) = 0;
    virtual int board_side(int wire) const = 0;
    // Runs the AVR to until_ns on the bench clock, or, with stop_at_change, to
    // its first change on a wire the Pi does not drive: when that was, else -1.
    virtual std::int64_t sync(std::int64_t until_ns, bool stop_at_change) = 0;
    // Where the AVR is, on the bench clock.
    virtual std::int64_t bench_ns() const = 0;

    // One I2C transfer, the Pi the master and the board's TWI the slave,
    // START at start_ns or once the bus is free; the reads filled in. lines,
    // if given, gets each change of SDA and SCL.
    virtual link::I2cAnswer i2c(std::vector<I2cMessage> &messages, std::int64_t start_ns,
                                std::int64_t bit_ns, std::vector<link::I2cLine> *lines) = 0;

    // For sweeps at cycle resolution: the same transfer with CE0 falling at
    // an AVR cycle (or as soon after as the bus is free); when it did.
    virtual std::uint64_t exchange_at_cycle(unsigned char *data, int len, std::uint64_t cycle,
                                            std::int64_t bit_ns, int mode) = 0;
    virtual std::uint64_t cycle() const = 0;
    virtual std::uint32_t frequency() const = 0;
    // Called as each interrupt handler starts, but the SPI's and SS's own.
    virtual void watch_interrupts(std::function<void(int vector, std::uint64_t cycle)> seen) = 0;

    // avr-gdb's way in (see open_debug_stub): the port, or -1 and why not.
    virtual int open_debugger(int port, std::string *why) = 0;
    // The stub's port; 0 when none is open.
    virtual int debugger_port() const = 0;
    // Held by the debugger: at a breakpoint, after a step, or as it attached.
    virtual bool halted() const = 0;
    // Stops the AVR where it is, as avr-gdb's interrupt does, for a debugger
    // to attach before it runs on.
    virtual void halt() = 0;
    // On the virtual clock a halted AVR holds up whatever runs it: the runs
    // wait. On the wall clock time goes on without it, as for a real board in
    // a debugger: its SPI slave clocks out SPDR as it stands, its pins stay.
    virtual void halt_holds_time(bool holds) = 0;
    // Between requests: the debugger's packets, and a single step it asked for.
    virtual void serve_debugger() = 0;
};

// A board of this kind running the firmware (Intel HEX or ELF) from reset,
// or null and why not.
std::unique_ptr<AvrBoard> make_avr_board(const std::string &firmware_path, const BoardKind &kind,
                                         std::string *why);

} // namespace wpisim
