// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The simulated board: a firmware's ELF running in simavr behind the bus.
// Simulated time follows the wall clock or the bench's virtual one: before
// each exchange the AVR runs the cycles that have passed since the last one;
// idle sleeps cost nothing.

#include "avr_board.hpp"

#include "avr_pins.hpp"
#include "debug_stub.hpp"

#include "clock.hpp"
#include "event_log.hpp"
#include "firmware_check.hpp"
#include "intel_hex.hpp"
#include "memory_guard.hpp"

#include <avr_ioport.h>
#include <avr_spi.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_cycle_timers.h>
#include <sim_elf.h>
#include <sim_gdb.h>
#include <sim_interrupts.h>
#include <sim_io.h>
#include <sim_irq.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace wpisim
{

namespace
{

// The SPI's registers, at the same data-space addresses on the 328P and the 2560.
constexpr avr_io_addr_t spcr_address = 0x4c;
constexpr avr_io_addr_t spdr_address = 0x4e;
constexpr unsigned spe_bit = 6;
constexpr unsigned cpol_bit = 3;
constexpr unsigned cpha_bit = 2;
// UART0's registers, at the same data-space addresses on the 328P and the 2560.
constexpr avr_io_addr_t ucsr0a_address = 0xc0;
constexpr avr_io_addr_t ucsr0b_address = 0xc1;
constexpr avr_io_addr_t ucsr0c_address = 0xc2;
constexpr avr_io_addr_t ubrr0l_address = 0xc4;
constexpr avr_io_addr_t ubrr0h_address = 0xc5;
// How long a board has been on, or out of reset, when the first run talks to it.
constexpr double power_on_s = 0.1;
// How long the Pi's I2C controller lets a slave hold SCL low: the kernel's
// i2c-bcm2835 sets its clock-stretch timeout to 35 ms.
constexpr double stretch_limit_s = 0.035;
// The least time CE0 stays high between two transfers on the bus.
constexpr double ce_gap_ns = 50000;
// How long a halted AVR's loop waits for the debugger's next packet at a time.
constexpr std::uint32_t debugger_wait_us = 1000;

// simavr's messages would land in parley's output; only errors are kept, in the call log.
void quiet_logger(avr_t * /*avr*/, const int level, const char *format, va_list ap)
{
    if (level > LOG_ERROR)
        return;
    std::array<char, 256> text{};
    std::vsnprintf(text.data(), text.size(), format, ap);
    std::string line(text.data());
    for (char &c : line)
        if (c == ' ' || c == '\n')
            c = '_';
    Record("board-error").text("message", line).emit();
}

// Sleeping is only a jump in simulated time, never a wait in real time.
void no_sleep(avr_t * /*avr*/, avr_cycle_count_t /*how_long*/) {}

// An exchange, in half bit-times from CE0 falling, bytes back to back: clock
// edge j (1 to 16 * len) is at j, odd ones leading (away from the Pi's CPOL,
// the level SCLK idles at), even ones trailing; CE0 rises at 16 * len + 1.
// The Pi's controller with CPHA 0 puts each bit on MOSI as CE0 falls or at
// the trailing edge before it and reads MISO at the leading edge; with CPHA 1
// it puts the bit out at the leading edge and reads at the trailing one.
//
// The AVR's SPI slave has its own CPOL and CPHA (SPCR), so its own leading
// edges: it samples MOSI at them with CPHA 0, at its trailing ones with CPHA
// 1, and at the other edges puts the next bit of the byte it sends on MISO.
// A byte begins at its first sample and is complete at its eighth (SPIF, the
// interrupt), the byte received staying in the shift register; between bytes
// MISO shows the shift register's MSB, so an SPDR write goes out at once.
// Where one side changes a line at the edge the other samples it on, the Pi
// reads MISO as it was (its own edge, no delay), the AVR reads MOSI as it has
// become (it sees SCLK through a synchronizer, a couple of its cycles late).
// CE0 rising drops a byte half received.
//
// What each side gets then depends on whether both sample on the same
// physical edge: rising in modes 0 and 3, falling in 1 and 2.
// - The same edge (a mode with itself, 0 with 3, 1 with 2): the bytes as sent.
//   With the polarities apart the slave sees a setup edge more before its
//   first sample (the Pi in mode 3, the slave in 0), or misses that one (the
//   Pi in 0, the slave in 3), and neither matters: until a byte begins, MISO
//   shows its MSB anyway.
// - The other edge, Pi CPHA 0 (Pi mode 0 with slave 1 or 2, 2 with 0 or 3):
//   the slave samples as the Pi moves MOSI on, so gets each byte shifted left
//   by one, the next byte's MSB last (the byte's own LSB again at the end);
//   the Pi samples as the slave moves MISO on, so reads each byte's MSB twice
//   and loses its LSB.
// - The other edge, Pi CPHA 1 (Pi mode 1 with slave 0 or 3, 3 with 1 or 2):
//   the slave samples after the Pi put each bit out and gets the bytes as
//   sent, but completes each byte half a bit before the Pi's last sample:
//   the Pi reads seven bits of the byte and, last, the MSB of what is in the
//   shift register by then (the firmware's next byte if it loaded one).
// With the modes matched this is the slave's timing of mode 0 as ever: a
// byte begins at edge 16k + 1 and is in at 16k + 15.

class SimulatedAvr : public AvrBoard
{
  public:
    SimulatedAvr(avr_t *avr, const BoardKind &kind)
        : avr_(avr), kind_(kind), pins_(std::make_unique<AvrPins>(avr))
    {
        spi_in_ = avr_io_getirq(avr_, AVR_IOCTL_SPI_GETIRQ(0), SPI_IRQ_INPUT);
        ss_ = avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ(kind_.spi_port), kind_.ss_bit);
        drive_ss(1); // CE0 idles high
        watch(spcr_address, &spcr_);
        watch(kind_.d5.tccra, &tccra_[0]);
        watch(kind_.d6.tccra, &tccra_[1]);
        watch(kind_.d5.ocr, &ocr_[0]);
        watch(kind_.d6.ocr, &ocr_[1]);
        avr_irq_register_notify(avr_iomem_getirq(avr_, spdr_address, nullptr, AVR_IOMEM_IRQ_ALL),
                                on_spdr_write, this);
        // The UART neither sleeps on the host's clock nor prints on its own.
        std::uint32_t flags = 0;
        avr_ioctl(avr_, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
        flags &= ~static_cast<std::uint32_t>(AVR_UART_FLAG_POLL_SLEEP | AVR_UART_FLAG_STDIO);
        avr_ioctl(avr_, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
        uart_in_ = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
        if (avr_irq_t *out = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT))
            avr_irq_register_notify(out, on_uart_out, this);
        if (avr_irq_t *xon = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON))
            avr_irq_register_notify(xon, on_xon, this);
        if (avr_irq_t *xoff = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF))
            avr_irq_register_notify(xoff, on_xoff, this);
        for (avr_io_t *io = avr_->io_port; io != nullptr; io = io->next)
            if (std::strcmp(io->kind, "uart") == 0 &&
                reinterpret_cast<avr_uart_t *>(io)->name == '0')
                uart_ = reinterpret_cast<avr_uart_t *>(io);
        for (const avr_io_addr_t a :
             {ucsr0a_address, ucsr0b_address, ucsr0c_address, ubrr0l_address, ubrr0h_address})
            avr_irq_register_notify(avr_iomem_getirq(avr_, a, nullptr, AVR_IOMEM_IRQ_ALL),
                                    on_uart_setting, this);
        base_ns_ = now_ns();
        twi_ = std::make_unique<TwiMaster>(
            avr_, [this] { step(); }, [this] { return running() && !frozen(); });
    }

    void power_on() override
    {
        // On a moment before anyone talks to it, as a board on a bench is:
        // its start-up code and setup() have run.
        stop_ = false;
        avr_cycle_timer_register(avr_, static_cast<avr_cycle_count_t>(power_on_s * avr_->frequency),
                                 on_stop, this);
        since_busy_ = wpisim::now_ns();
        while (going())
            step();
        avr_cycle_timer_cancel(avr_, on_stop, this);
        // From here on, simulated time keeps pace with the wall clock.
        base_ns_ = now_ns();
        base_cycle_ = avr_->cycle;
    }
    ~SimulatedAvr() override
    {
        pins_.reset();
        avr_terminate(avr_);
        for (std::uint32_t i = 0; i < symbol_count_; ++i)
            std::free(symbols_[i]);
        std::free(static_cast<void *>(symbols_));
    }

    // The ELF's symbols, which the simulator may point into while it runs.
    void keep_symbols(avr_symbol_t **symbols, std::uint32_t count)
    {
        symbols_ = symbols;
        symbol_count_ = count;
    }

    std::int64_t exchange(unsigned char *data, int len, std::int64_t start_ns, std::int64_t bit_ns,
                          int mode) override
    {
        slip_to_ns_ = start_ns;
        exchange_at_cycle(data, len, cycle_at(start_ns), bit_ns, mode);
        // A cycle's rounding is no delay: the transfer began when asked (a
        // catch-up given up has moved the cycle it was asked for).
        return t0_ <= cycle_at(start_ns) + 1 ? start_ns : ns_at(t0_);
    }

    std::uint64_t exchange_at_cycle(unsigned char *data, int len, std::uint64_t asked,
                                    std::int64_t bit_ns, int mode) override
    {
        data_ = data;
        len_ = len;
        sent_.assign(data, data + len);
        std::fill(data, data + len, 0);
        pi_mode_ = mode;
        event_ = 0;
        collisions_ = 0;
        half_bit_ = static_cast<double>(bit_ns) * avr_->frequency / 2e9;
        // Never behind the AVR, nor before CE0 has been high a while after
        // the last transfer: a late start shifts the whole exchange.
        t0_ = std::max({static_cast<avr_cycle_count_t>(asked), avr_->cycle + 1, bus_free_});
        if (running()) {
            // The AVR runs exactly to each edge: a sleeping AVR jumps to the
            // next cycle timer, and every edge is one.
            avr_cycle_timer_register(avr_, t0_ - avr_->cycle, on_edge, this);
            since_busy_ = wpisim::now_ns();
            given_up_ = false;
            while (event_ <= events() && running() && !frozen()) {
                step();
                if (given_up_ && event_ == 0)
                    slip();
            }
            avr_cycle_timer_cancel(avr_, on_edge, this);
        }
        // With no code running, the SPI hardware still clocks the bytes.
        while (event_ <= events())
            edge();
        report();
        bus_free_ = cycle_of(events()) + ce_gap_cycles();
        return t0_;
    }

    std::uint64_t cycle() const override { return avr_->cycle; }
    std::uint32_t frequency() const override { return avr_->frequency; }

    void watch_interrupts(std::function<void(int, std::uint64_t)> seen) override
    {
        seen_ = std::move(seen);
        watched_.clear();
        for (int i = 0; i < avr_->interrupts.vector_count; ++i)
            watched_.push_back({this, avr_->interrupts.vector[i]->vector});
        for (std::size_t i = 0; i < watched_.size(); ++i)
            avr_irq_register_notify(avr_->interrupts.vector[i]->irq + AVR_INT_IRQ_RUNNING,
                                    on_interrupt, &watched_[i]);
    }

    const link::BoardReport &last_report() const override { return last_; }

    int open_debugger(int port, std::string *why) override
    {
        return open_debug_stub(avr_, port, why);
    }
    int debugger_port() const override { return avr_->gdb != nullptr ? avr_->gdb_port : 0; }
    bool halted() const override { return avr_->gdb != nullptr && avr_->state == cpu_Stopped; }
    void halt() override
    {
        if (avr_->gdb != nullptr)
            avr_->state = cpu_Stopped;
    }
    void halt_holds_time(bool holds) override { holds_time_ = holds; }
    void serve_debugger() override
    {
        if (avr_->gdb == nullptr)
            return;
        // One instruction is no time on any clock; anything longer waits for
        // a run, on the virtual clock, or for the wall clock's catch-up.
        if (avr_->state == cpu_Step || avr_->state == cpu_StepDone)
            avr_run(avr_);
        else
            avr_gdb_processor(avr_, 0);
    }

    void rebase(std::int64_t now_ns) override
    {
        base_ns_ = now_ns;
        base_cycle_ = avr_->cycle;
    }

    bool run_towards(std::int64_t now_ns, std::int64_t max_behind_ns,
                     std::int64_t budget_ns) override
    {
        const auto max_behind = static_cast<avr_cycle_count_t>(static_cast<double>(max_behind_ns) *
                                                               avr_->frequency / 1e9);
        const avr_cycle_count_t target = cycle_at(now_ns);
        if (frozen()) {
            avr_gdb_processor(avr_, 0);
            rebase(now_ns);
            return true;
        }
        if (target <= avr_->cycle || !running())
            return true;
        // A sleeping AVR jumps to its next timer event: a timer at the
        // target keeps it from jumping past.
        stop_ = false;
        avr_cycle_timer_register(avr_, target - avr_->cycle, on_stop, this);
        const std::int64_t give_up = wpisim::now_ns() + budget_ns;
        while (going() && !frozen() && wpisim::now_ns() < give_up) {
            if (halted())
                avr_gdb_processor(avr_, debugger_wait_us);
            for (int i = 0; i < 1000 && going() && !halted(); ++i)
                avr_run(avr_);
        }
        avr_cycle_timer_cancel(avr_, on_stop, this);
        // Halted on the wall clock: it takes up again from where it stopped.
        if (frozen()) {
            rebase(now_ns);
            return true;
        }
        // A host too slow for the firmware: simulated time gives way, so an
        // exchange never waits on a catch-up without end.
        if (!stop_ && running() && target > avr_->cycle + max_behind) {
            rebase(now_ns);
            base_cycle_ = avr_->cycle + max_behind;
        }
        return stop_ || !running();
    }

    const link::BoardReport &report_now() override
    {
        report();
        return last_;
    }

    void on_serial(std::function<void(std::uint8_t)> sent) override
    {
        serial_out_ = std::move(sent);
    }

    void on_busy(std::function<bool()> busy) override { busy_ = std::move(busy); }

    bool serial_in(std::uint8_t byte) override
    {
        if (!uart_ready_ || uart_in_ == nullptr)
            return false;
        avr_raise_irq(uart_in_, byte);
        return true;
    }

    UartFormat uart_format() const override
    {
        const std::uint8_t *d = avr_->data;
        const unsigned ubrr = (d[ubrr0h_address] & 0x0fU) << 8 | d[ubrr0l_address];
        const unsigned per_bit = (ubrr + 1) * ((d[ucsr0a_address] >> 1 & 1) != 0 ? 8 : 16);
        UartFormat f;
        f.bit_ns = per_bit * 1e9 / avr_->frequency;
        const unsigned size = (d[ucsr0c_address] >> 1 & 3) | (d[ucsr0b_address] >> 2 & 1) << 2;
        // 9-bit frames are not modelled: taken as 8.
        f.data_bits = size < 4 ? 5 + static_cast<int>(size) : 8;
        const unsigned upm = d[ucsr0c_address] >> 4 & 3;
        f.parity = upm == 2 ? 'E' : upm == 3 ? 'O' : 'N';
        f.stop_bits = (d[ucsr0c_address] >> 3 & 1) != 0 ? 2 : 1;
        return f;
    }

    void serial_in_at(std::int64_t at_ns, std::uint8_t byte, bool framing_error) override
    {
        const avr_cycle_count_t at = cycle_at(at_ns);
        const std::uint32_t value =
            byte | (framing_error ? static_cast<std::uint32_t>(UART_INPUT_FE) : 0U);
        if (uart_in_ == nullptr)
            return;
        if (at <= avr_->cycle) {
            receive_now(value);
            return;
        }
        const bool idle = serial_queue_.empty();
        serial_queue_.emplace_back(at, value);
        if (idle)
            avr_cycle_timer_register(avr_, serial_queue_.front().first - avr_->cycle, on_serial_due,
                                     this);
    }

    std::string set_wires(const std::vector<link::WireEnds> &wires, WireChanged changed) override
    {
        return pins_->wire(wires, [this, changed = std::move(changed)](
                                      int wire, bool board, int side, avr_cycle_count_t cycle) {
            // A sync that waits for the board's next change stops at one the
            // Pi reads.
            const int pi = pins_->pi_side_now(wire);
            if (board && stop_at_change_ && pi != link::side_low && pi != link::side_high) {
                changed_ = true;
                changed_at_ = cycle;
            }
            changed(wire, board, side, ns_at(cycle));
        });
    }

    void pi_side(int wire, int side, std::int64_t at_ns) override
    {
        pins_->pi_side(wire, side, cycle_at(at_ns));
    }

    int board_side(int wire) const override { return pins_->avr_side(wire); }

    std::int64_t sync(std::int64_t until_ns, bool stop_at_change) override
    {
        const avr_cycle_count_t target = cycle_at(until_ns);
        changed_ = false;
        if (target > avr_->cycle && running()) {
            stop_at_change_ = stop_at_change;
            stop_ = false;
            avr_cycle_timer_register(avr_, target - avr_->cycle, on_stop, this);
            since_busy_ = wpisim::now_ns();
            given_up_ = false;
            while (going() && !changed_ && !given_up_ && !frozen())
                step();
            avr_cycle_timer_cancel(avr_, on_stop, this);
            stop_at_change_ = false;
        }
        return changed_ ? ns_at(changed_at_) : -1;
    }

    std::int64_t bench_ns() const override { return ns_at(avr_->cycle); }

    link::I2cAnswer i2c(std::vector<I2cMessage> &messages, std::int64_t start_ns,
                        std::int64_t bit_ns, std::vector<link::I2cLine> *lines) override
    {
        std::vector<I2cEdge> edges;
        since_busy_ = wpisim::now_ns();
        given_up_ = false;
        const I2cOutcome o = twi_->transfer(
            messages, cycle_at(start_ns), static_cast<double>(bit_ns) * avr_->frequency / 1e9,
            static_cast<std::uint64_t>(stretch_limit_s * avr_->frequency),
            lines != nullptr ? &edges : nullptr);
        link::I2cAnswer a;
        a.start_ns = o.start <= cycle_at(start_ns) + 1 ? start_ns : ns_at(o.start);
        a.end_ns = std::max(a.start_ns, ns_at(o.end));
        a.error = o.error;
        a.done = o.done;
        if (lines != nullptr)
            for (const I2cEdge &e : edges)
                lines->push_back({std::max(a.start_ns, ns_at(e.cycle)), e.scl, e.sda, {}});
        report();
        a.report = last_;
        return a;
    }

  private:
    // A byte whose stop bit is in: RXC at once. simavr's own UART would
    // raise it a frame's time after it is handed the byte.
    void receive_now(std::uint32_t value)
    {
        avr_raise_irq(uart_in_, value);
        if (uart_ != nullptr && avr_regbit_get(avr_, uart_->rxen) != 0)
            avr_raise_interrupt(avr_, &uart_->rxc);
    }

    // simavr paces what the UART sends at a frame of 1 + data + 1 + stop
    // bits, parity or none; a real one sends back to back, frame after frame.
    static void on_uart_setting(avr_irq_t * /*irq*/, std::uint32_t /*value*/, void *param)
    {
        auto *self = static_cast<SimulatedAvr *>(param);
        if (self->uart_ == nullptr)
            return;
        const UartFormat f = self->uart_format();
        self->uart_->cycles_per_byte = static_cast<avr_cycle_count_t>(
            std::llround(f.frame_ns() * self->avr_->frequency / 1e9));
    }

    static avr_cycle_count_t on_serial_due(avr_t *avr, avr_cycle_count_t when, void *param)
    {
        auto *self = static_cast<SimulatedAvr *>(param);
        auto &q = self->serial_queue_;
        while (!q.empty() && q.front().first <= when) {
            self->receive_now(q.front().second);
            q.pop_front();
        }
        return q.empty() ? 0 : std::max(q.front().first, avr->cycle + 1);
    }

    // One instruction, or a sleeping AVR's jump; now and then a look at the
    // host's clock, to let the board process look after its runs.
    // Halted, it waits on the debugger instead, and looks after the runs
    // all along: a user may hold it for minutes.
    void step()
    {
        const bool held = halted();
        if (held)
            avr_gdb_processor(avr_, debugger_wait_us);
        avr_run(avr_);
        if (!busy_ || (!held && (++steps_ % 1024 != 0 || given_up_)))
            return;
        const std::int64_t now = wpisim::now_ns();
        if (now - since_busy_ >= busy_every_ns) {
            since_busy_ = now;
            given_up_ = !busy_() || given_up_;
        }
    }

    // The catch-up before an exchange given up: the transfer starts at the
    // AVR's next cycle, which is now its asked-for time.
    void slip()
    {
        avr_cycle_timer_cancel(avr_, on_edge, this);
        rebase(slip_to_ns_);
        t0_ = std::max(avr_->cycle + 1, bus_free_);
        avr_cycle_timer_register(avr_, t0_ - avr_->cycle, on_edge, this);
        given_up_ = false;
    }

    bool running() const { return avr_->state != cpu_Crashed && avr_->state != cpu_Done; }
    // Halted on the wall clock: whatever runs it goes on without it.
    bool frozen() const { return !holds_time_ && halted(); }
    // Until a stop timer fires, from inside avr_run.
    bool going() const { return !stop_ && running(); }
    bool spi_on() const { return (spcr_ >> spe_bit & 1) != 0; }

    avr_cycle_count_t cycle_at(std::int64_t ns) const
    {
        const auto elapsed = static_cast<double>(ns - base_ns_);
        if (elapsed <= 0)
            return base_cycle_;
        return base_cycle_ + static_cast<avr_cycle_count_t>(elapsed * avr_->frequency / 1e9);
    }
    std::int64_t ns_at(avr_cycle_count_t cycle) const
    {
        const auto cycles = static_cast<double>(cycle - base_cycle_);
        return base_ns_ + static_cast<std::int64_t>(std::llround(cycles * 1e9 / avr_->frequency));
    }
    // Between two transfers, from one run or two, CE0 stays high this long.
    avr_cycle_count_t ce_gap_cycles() const
    {
        return static_cast<avr_cycle_count_t>(ce_gap_ns * 1e-9 * avr_->frequency);
    }

    // Events, each at its own half bit-time: 0 is CE0 falling, then every
    // clock edge, then CE0 rising.
    int events() const { return 16 * len_ + 1; }
    avr_cycle_count_t cycle_of(int event) const
    {
        return t0_ + static_cast<avr_cycle_count_t>(std::llround(event * half_bit_));
    }

    struct Watched {
        SimulatedAvr *self;
        int vector;
    };
    // Raised with 1 as the handler starts, with 0 as it returns.
    static void on_interrupt(avr_irq_t * /*irq*/, std::uint32_t running, void *param)
    {
        const auto *w = static_cast<const Watched *>(param);
        if (running != 0 && w->vector != w->self->kind_.spi_vector &&
            w->vector != w->self->kind_.ss_vector)
            w->self->seen_(w->vector, w->self->avr_->cycle);
    }

    static avr_cycle_count_t on_stop(avr_t * /*avr*/, avr_cycle_count_t /*when*/, void *param)
    {
        static_cast<SimulatedAvr *>(param)->stop_ = true;
        return 0;
    }
    static void on_uart_out(avr_irq_t * /*irq*/, std::uint32_t value, void *param)
    {
        auto *self = static_cast<SimulatedAvr *>(param);
        if (self->serial_out_)
            self->serial_out_(static_cast<std::uint8_t>(value));
    }
    static void on_xon(avr_irq_t * /*irq*/, std::uint32_t /*value*/, void *param)
    {
        static_cast<SimulatedAvr *>(param)->uart_ready_ = true;
    }
    static void on_xoff(avr_irq_t * /*irq*/, std::uint32_t /*value*/, void *param)
    {
        static_cast<SimulatedAvr *>(param)->uart_ready_ = false;
    }

    static avr_cycle_count_t on_edge(avr_t *avr, avr_cycle_count_t /*when*/, void *param)
    {
        auto *self = static_cast<SimulatedAvr *>(param);
        self->edge();
        if (self->event_ > self->events())
            return 0;
        // An edge due now (a clock too fast for the AVR's) still comes after this one.
        return std::max(self->cycle_of(self->event_), avr->cycle + 1);
    }

    void edge()
    {
        const int event = event_++;
        const bool pi_cpha = (pi_mode_ & 1) != 0;
        if (event == 0) {
            miso_idle_ = miso_driven();
            sclk_ = pi_mode_ >> 1 & 1;
            if (!pi_cpha)
                mosi_ = sent_bit(0);
            drive_ss(0);
            return;
        }
        if (event == events()) {
            in_byte_ = false;
            samples_ = 0;
            drive_ss(1);
            return;
        }
        sclk_ ^= 1;
        // The Pi first: it reads MISO as it is, then moves MOSI on.
        const bool leading = event % 2 == 1;
        const int bit = (event - 1) / 2;
        if (leading != pi_cpha) {
            if (bit % 8 == 0)
                miso_drive_ = miso_drive();
            data_[bit / 8] |= static_cast<unsigned char>(miso_level() << (7 - bit % 8));
        }
        if (leading == pi_cpha)
            mosi_ = sent_bit(pi_cpha ? bit : bit + 1);
        if (!spi_on())
            return;
        const unsigned cpol = spcr_ >> cpol_bit & 1;
        const bool cpha = (spcr_ >> cpha_bit & 1) != 0;
        const bool slave_leading = sclk_ != cpol;
        if (slave_leading != cpha)
            sample();
        else if (in_byte_)
            out_bit_ = sending_ >> (7 - samples_) & 1;
    }

    // Bit k of what the Pi sends; past the end, MOSI holds the last one.
    unsigned sent_bit(int k) const
    {
        k = std::min(k, 8 * len_ - 1);
        return sent_[k / 8] >> (7 - k % 8) & 1;
    }

    // What drives MISO for a whole byte, as it is at the Pi's first sample
    // of it: the SPI (spi_drives), or a level: a plain port pin's when the
    // SPI is off, the Pi's pull-down when MISO is an input.
    static constexpr int spi_drives = -1;
    int miso_drive() const
    {
        const avr_ioport_state_t b = port(kind_.spi_port);
        if (!spi_on())
            return (b.ddr & b.port) >> kind_.miso_bit & 1;
        return (b.ddr >> kind_.miso_bit & 1) != 0 ? spi_drives : 0;
    }
    unsigned miso_level() const
    {
        if (miso_drive_ != spi_drives)
            return static_cast<unsigned>(miso_drive_);
        return in_byte_ ? out_bit_ : shift_ >> 7 & 1;
    }

    // What was received stays in the shift register: unless the firmware
    // loads SPDR before the next byte begins, it goes back out.
    void sample()
    {
        if (!in_byte_) {
            in_byte_ = true;
            sending_ = shift_;
            out_bit_ = sending_ >> 7 & 1;
            received_ = 0;
        }
        received_ = static_cast<std::uint8_t>(received_ << 1 | mosi_);
        if (++samples_ < 8)
            return;
        in_byte_ = false;
        samples_ = 0;
        shift_ = received_;
        avr_raise_irq(spi_in_, received_);
    }

    // The Pi drives CE0 both ways. Told so, simavr's port keeps the level
    // when the firmware writes the port, instead of applying the pull-up.
    void drive_ss(unsigned level)
    {
        pins_->hold(kind_.spi_port, kind_.ss_bit, static_cast<int>(level));
        avr_raise_irq(ss_, level);
    }

    bool miso_driven() const { return (port(kind_.spi_port).ddr >> kind_.miso_bit & 1) != 0; }

    // SPDR writes reach the shift register only between bytes; one during a
    // byte is a write collision (WCOL) and is lost. simavr's SPI module keeps
    // no shift register, so the board's is kept here.
    static void on_spdr_write(avr_irq_t * /*irq*/, std::uint32_t value, void *param)
    {
        auto *self = static_cast<SimulatedAvr *>(param);
        if (!self->spi_on())
            return;
        if (self->in_byte_) {
            ++self->collisions_;
            return;
        }
        self->shift_ = static_cast<std::uint8_t>(value);
    }

    // Every write the firmware makes to a register lands in its shadow here,
    // through the register's memory IRQ.
    void watch(avr_io_addr_t addr, std::uint8_t *shadow)
    {
        avr_irq_register_notify(avr_iomem_getirq(avr_, addr, nullptr, AVR_IOMEM_IRQ_ALL), on_write,
                                shadow);
    }
    static void on_write(avr_irq_t * /*irq*/, std::uint32_t value, void *shadow)
    {
        *static_cast<std::uint8_t *>(shadow) = static_cast<std::uint8_t>(value);
    }

    avr_ioport_state_t port(char name) const
    {
        avr_ioport_state_t state{};
        avr_ioctl(avr_, AVR_IOCTL_IOPORT_GETSTATE(name), &state);
        return state;
    }

    // What an output pin shows: the PWM duty when its compare output drives
    // it, else the port level.
    int output_level(const PwmPin &pin, int which) const
    {
        const avr_ioport_state_t out = port(pin.port);
        if ((out.ddr >> pin.bit & 1) == 0)
            return 0;
        if ((tccra_[which] >> pin.com_bit & 1) != 0)
            return ocr_[which];
        return (out.port >> pin.bit & 1) != 0 ? 255 : 0;
    }

    void report()
    {
        last_.cycle = static_cast<std::int64_t>(avr_->cycle);
        last_.hz = static_cast<std::int64_t>(avr_->frequency);
        last_.d5 = output_level(kind_.d5, 0);
        last_.d6 = output_level(kind_.d6, 1);
        last_.miso_driven = miso_idle_ ? 1 : 0;
        last_.wcol = collisions_;
        last_.state = link::board_running;
        if (avr_->state == cpu_Done)
            last_.state = link::board_stopped;
        else if (avr_->state == cpu_Crashed)
            last_.state = link::board_crashed;
        last_.pc = avr_->pc;
    }

    avr_t *avr_;
    const BoardKind &kind_;
    std::unique_ptr<AvrPins> pins_;
    std::unique_ptr<TwiMaster> twi_;
    bool stop_at_change_ = false;
    bool changed_ = false;
    avr_cycle_count_t changed_at_ = 0;
    avr_irq_t *spi_in_ = nullptr;
    avr_irq_t *ss_ = nullptr;
    std::int64_t base_ns_ = 0;
    avr_cycle_count_t base_cycle_ = 0;
    avr_cycle_count_t bus_free_ = 0;
    // The exchange under way.
    unsigned char *data_ = nullptr; // what the Pi reads, bit by bit
    std::vector<unsigned char> sent_;
    int len_ = 0;
    int pi_mode_ = 0;
    unsigned sclk_ = 0;
    unsigned mosi_ = 0; // held between exchanges, as the Pi's controller leaves it
    int event_ = 0;
    avr_cycle_count_t t0_ = 0;
    double half_bit_ = 0;
    // The slave's byte under way: what it sends, the bit on MISO, what it received.
    bool in_byte_ = false;
    int samples_ = 0;
    std::uint8_t sending_ = 0;
    unsigned out_bit_ = 0;
    std::uint8_t received_ = 0;
    int miso_drive_ = 0;
    bool miso_idle_ = false;
    int collisions_ = 0;
    // The SPI's shift register: zero after reset, like the AVR's.
    std::uint8_t shift_ = 0;
    link::BoardReport last_;
    std::uint8_t spcr_ = 0;
    std::uint8_t tccra_[2] = {};
    std::uint8_t ocr_[2] = {};
    std::function<void(int, std::uint64_t)> seen_;
    avr_symbol_t **symbols_ = nullptr;
    std::uint32_t symbol_count_ = 0;
    std::function<void(std::uint8_t)> serial_out_;
    std::function<bool()> busy_;
    std::uint32_t steps_ = 0;
    std::int64_t since_busy_ = 0;
    std::int64_t slip_to_ns_ = 0; // the exchange's asked-for start
    bool given_up_ = false;
    avr_irq_t *uart_in_ = nullptr;
    avr_uart_t *uart_ = nullptr; // UART0, for its receive flag and its pace
    bool uart_ready_ = true;
    // Bytes on their way to the UART's receiver: the cycle each is handed over.
    std::deque<std::pair<avr_cycle_count_t, std::uint32_t>> serial_queue_;
    bool stop_ = false;
    std::vector<Watched> watched_;
    bool holds_time_ = false;
};

} // namespace

} // namespace wpisim

namespace wpisim
{

std::unique_ptr<AvrBoard> make_avr_board(const std::string &firmware_path, const BoardKind &kind,
                                         std::string *why)
{
    avr_global_logger_set(quiet_logger);
    std::string content;
    *why = firmware_problem(firmware_path, kind, &content);
    if (!why->empty())
        return nullptr;
    avr_t *avr = avr_make_mcu_by_name(kind.mcu);
    if (avr == nullptr) {
        *why = std::string("the simulator has no ") + kind.mcu;
        return nullptr;
    }
    avr_init(avr);
    widen_memory(avr);
    avr->sleep = no_sleep;
    // The clock is the board's: no firmware file can say it for sure.
    avr->frequency = kind.hz;
    avr_symbol_t **symbols = nullptr;
    std::uint32_t symbol_count = 0;
    if (!content.empty() && content[0] == ':') {
        FlashImage image = parse_intel_hex(content, kind.flash_bytes, why);
        avr_loadcode(avr, image.bytes.data(), image.used, 0);
    } else {
        elf_firmware_t firmware{};
        if (elf_read_firmware(firmware_path.c_str(), &firmware) != 0) {
            *why = "the simulator cannot read it";
            avr_terminate(avr);
            return nullptr;
        }
        std::snprintf(firmware.mmcu, sizeof firmware.mmcu, "%s", kind.mcu);
        firmware.frequency = kind.hz;
        avr_load_firmware(avr, &firmware);
        // Loaded: the simulator keeps copies of its own.
        std::free(firmware.flash);
        std::free(firmware.eeprom);
        std::free(firmware.fuse);
        std::free(firmware.lockbits);
        symbols = firmware.symbol;
        symbol_count = firmware.symbolcount;
    }
    avr->log = LOG_ERROR;
    auto board = std::make_unique<SimulatedAvr>(avr, kind);
    board->keep_symbols(symbols, symbol_count);
    return board;
}

} // namespace wpisim
