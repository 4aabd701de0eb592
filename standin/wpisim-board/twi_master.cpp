// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The Pi's I2C master against the AVR's TWI slave, bit by bit. Each SCL
// period: SCL falls, SDA changes a quarter period later, SCL rises half a
// period after it fell, unless the slave holds it low (TWINT set): then it
// rises a quarter period after the slave lets go. START is SDA falling half a
// period before SCL; STOP is SDA rising half a period after SCL. The slave
// samples SDA as SCL rises, ACKs its address and data as TWEA says at the
// eighth falling edge, and sets TWINT with its status at the ninth, as the
// ATmega328P's and ATmega2560's TWI do.

#include "twi_master.hpp"

#include <avr_twi.h>
#include <sim_cycle_timers.h>
#include <sim_interrupts.h>
#include <sim_io.h>
#include <sim_regbit.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace wpisim
{

namespace
{

constexpr std::uint8_t twint = 0x80;
constexpr std::uint8_t twea = 0x40;
constexpr std::uint8_t twsta = 0x20;
constexpr std::uint8_t twen = 0x04;

// The slave's TWSR codes.
constexpr std::uint8_t sr_address = 0x60;
constexpr std::uint8_t sr_general = 0x70;
constexpr std::uint8_t sr_data_ack = 0x80;
constexpr std::uint8_t sr_data_nack = 0x88;
constexpr std::uint8_t sr_general_ack = 0x90;
constexpr std::uint8_t sr_general_nack = 0x98;
constexpr std::uint8_t sr_stop = 0xa0;
constexpr std::uint8_t st_address = 0xa8;
constexpr std::uint8_t st_data_ack = 0xb8;
constexpr std::uint8_t st_data_nack = 0xc0;
constexpr std::uint8_t st_last_data = 0xc8;
constexpr std::uint8_t bus_error = 0x00; // a START or STOP within a byte

avr_twi_t *find_twi(avr_t *avr)
{
    for (avr_io_t *io = avr->io_port; io != nullptr; io = io->next)
        if (io->kind != nullptr && std::strcmp(io->kind, "twi") == 0)
            return reinterpret_cast<avr_twi_t *>(io);
    return nullptr;
}

} // namespace

TwiMaster::TwiMaster(avr_t *avr, std::function<void()> step, std::function<bool()> running)
    : avr_(avr), twi_(find_twi(avr)), step_(std::move(step)), running_(std::move(running))
{
    if (twi_ != nullptr)
        avr_irq_register_notify(avr_iomem_getirq(avr_, twi_->r_twcr, nullptr, AVR_IOMEM_IRQ_ALL),
                                on_twcr, this);
}

I2cOutcome TwiMaster::transfer(std::vector<I2cMessage> &messages, std::uint64_t start_cycle,
                               double bit_cycles, std::uint64_t stretch_limit,
                               std::vector<I2cEdge> *edges)
{
    half_ = bit_cycles / 2;
    quarter_ = bit_cycles / 4;
    stretch_limit_ = stretch_limit;
    edges_ = edges;
    I2cOutcome out;
    double t = std::max(
        {static_cast<double>(start_cycle), free_at_, static_cast<double>(avr_->cycle + 1)});
    if (!bus_free(t, out)) {
        edges_ = nullptr;
        return out;
    }
    start_condition(t);
    low_ = t + half_;
    int error = 0;
    for (std::size_t k = 0; k < messages.size() && error == 0; ++k) {
        error = message(messages[k], k > 0);
        if (error == 0)
            ++out.done;
    }
    out.error = finish(error);
    out.end = static_cast<std::uint64_t>(std::llround(end_));
    free_at_ = end_ + half_;
    edges_ = nullptr;
    return out;
}

// Waits for SCL to be free for a START at t or after: a slave may still
// hold it from the last transfer (a STOP's TWINT), or from one the master
// gave up. False when it holds it too long.
bool TwiMaster::bus_free(double &t, I2cOutcome &out)
{
    run_to(t);
    if (stretching_ && !run_until(avr_->cycle + stretch_limit_, true)) {
        out.error = EIO;
        out.start = out.end = avr_->cycle;
        return false;
    }
    t = std::max(t, static_cast<double>(released_at_) + quarter_);
    out.start = static_cast<std::uint64_t>(std::llround(t));
    if (scl_ == 0) {
        // The master let go of SCL as it gave up: it rises once the slave lets go too.
        const double high = std::max(static_cast<double>(released_at_), free_at_ - half_);
        scl_ = 1;
        line_changed(high);
        out.start = static_cast<std::uint64_t>(std::llround(high));
        t = std::max(t, high + half_);
    }
    return true;
}

// One message, after a repeated START unless it is the first: 0 or the errno.
int TwiMaster::message(I2cMessage &m, bool repeated)
{
    if (repeated) {
        // SDA let go while SCL is low, then falling while it is high.
        master_sda(low_ + quarter_, 1);
        double high = 0;
        if (!rise(low_ + half_, high))
            return EIO;
        start_condition(high + half_);
        low_ = high + 2 * half_;
    }
    const int acked =
        byte(static_cast<std::uint8_t>(m.address << 1 | (m.read ? 1 : 0)), false, false, nullptr);
    if (acked != 1)
        return acked < 0 ? EIO : EREMOTEIO;
    for (std::size_t i = 0; i < m.data.size(); ++i) {
        const int r = m.read ? byte(0xff, true, i + 1 == m.data.size(), &m.data[i])
                             : byte(m.data[i], false, false, nullptr);
        if (r < 0)
            return EIO;
        if (r == 0 && !m.read)
            return EREMOTEIO;
    }
    return 0;
}

// One byte, 9 SCL periods: 1 ACK, 0 NACK, -1 SCL held too long.
int TwiMaster::byte(std::uint8_t sent, bool reading, bool last, std::uint8_t *got)
{
    int ack = 0;
    std::uint8_t in = 0;
    for (int bit = 0; bit < 9; ++bit) {
        int level = 1; // released: the slave's bits, or its ACK
        if (!reading && bit < 8)
            level = sent >> (7 - bit) & 1;
        if (reading && bit == 8)
            level = last ? 1 : 0;
        master_sda(low_ + quarter_, level);
        prepare(bit);
        double high = 0;
        if (!rise(low_ + half_, high))
            return -1;
        const int sda = master_sda_ & slave_sda_;
        sample(bit, sda);
        if (bit < 8)
            in = static_cast<std::uint8_t>(in << 1 | sda);
        else
            ack = sda == 0 ? 1 : 0;
        low_ = high + half_;
        fall(low_, bit);
    }
    if (got != nullptr)
        *got = in;
    return ack;
}

// A STOP, unless SCL is held too long; then the master gives up. The errno.
int TwiMaster::finish(int error)
{
    end_ = low_;
    if (error != EIO) {
        // SDA low while SCL is low, then rising while it is high.
        master_sda(low_ + quarter_, 0);
        double high = 0;
        if (rise(low_ + half_, high)) {
            end_ = high + half_;
            run_to(end_);
            master_sda_ = 1;
            stop_condition();
            line_changed(end_);
            return error;
        }
        error = EIO;
    }
    // SCL held low: the master lets go of SDA, and the slave, its frame cut
    // short, takes the next START for a bus error.
    master_sda_ = 1;
    slave_sda_ = 1;
    pending_bit_ = -1;
    frame_cut_ = true;
    end_ = std::max(end_, static_cast<double>(avr_->cycle));
    line_changed(end_);
    return error;
}

// Runs the AVR to a cycle, or until the slave lets go of SCL; whether it has.
bool TwiMaster::run_until(std::uint64_t cycle, bool until_released)
{
    if (cycle > avr_->cycle && running_()) {
        reached_ = false;
        avr_cycle_timer_register(avr_, cycle - avr_->cycle, on_timer, this);
        while (!reached_ && running_() && !(until_released && !stretching_))
            step_();
        avr_cycle_timer_cancel(avr_, on_timer, this);
    }
    return !stretching_;
}

void TwiMaster::run_to(double t)
{
    run_until(static_cast<std::uint64_t>(std::llround(t)), false);
}

// SCL let go at planned: it rises then, or once the slave lets go of it.
bool TwiMaster::rise(double planned, double &at)
{
    run_to(planned);
    if (stretching_ &&
        !run_until(static_cast<std::uint64_t>(std::llround(planned)) + stretch_limit_, true))
        return false;
    at = std::max(planned, static_cast<double>(released_at_) + quarter_);
    run_to(at);
    scl_ = 1;
    line_changed(at);
    return true;
}

void TwiMaster::master_sda(double t, int level)
{
    run_to(t);
    const bool start = scl_ == 1 && master_sda_ == 1 && level == 0;
    master_sda_ = level;
    line_changed(t);
    if (start && (master_sda_ & slave_sda_) == 0) {
        // SDA falling while SCL is high: a START the slave sees.
        if (frame_cut_)
            interrupt(bus_error);
        else if (mode_ == Mode::receiving)
            interrupt(sr_stop);
        frame_cut_ = false;
        mode_ = Mode::address;
        shift_ = 0;
    }
}

void TwiMaster::start_condition(double t)
{
    master_sda(t, 0);
    run_to(t + half_);
    scl_ = 0;
    line_changed(t + half_);
}

void TwiMaster::stop_condition()
{
    if (mode_ == Mode::receiving)
        interrupt(sr_stop);
    mode_ = Mode::idle;
}

void TwiMaster::line_changed(double t)
{
    const int sda = master_sda_ & slave_sda_;
    if (scl_ == last_scl_ && sda == last_sda_)
        return;
    last_scl_ = scl_;
    last_sda_ = sda;
    if (edges_ != nullptr)
        edges_->push_back({static_cast<std::uint64_t>(std::llround(t)),
                           static_cast<std::uint8_t>(scl_), static_cast<std::uint8_t>(sda)});
}

std::uint8_t TwiMaster::twcr() const
{
    return twi_ == nullptr ? 0 : avr_->data[twi_->r_twcr];
}

// The slave samples SDA as SCL rises.
void TwiMaster::sample(int bit, int sda)
{
    if (bit < 8 && (mode_ == Mode::address || mode_ == Mode::receiving))
        shift_ = static_cast<std::uint8_t>(shift_ << 1 | sda);
    if (bit == 8 && (mode_ == Mode::sending || mode_ == Mode::sent_last))
        master_ack_ = sda == 0;
}

// After SCL falls: the slave's ACK goes out after the eighth bit, its
// status comes after the ninth.
void TwiMaster::fall(double t, int bit)
{
    run_to(t);
    scl_ = 0;
    line_changed(t);
    if (twi_ == nullptr)
        return;
    if (bit == 7) {
        ack_ = acks();
        slave_sda_ = ack_ ? 0 : 1;
        line_changed(t);
    } else if (bit == 8) {
        slave_sda_ = 1;
        line_changed(t);
        after_ack();
    }
}

// Whether the slave ACKs the byte just in: its address, as TWAR, TWAMR and
// TWEA say, or a byte it receives while TWEA is set.
bool TwiMaster::acks()
{
    const std::uint8_t control = twcr();
    if (mode_ == Mode::receiving)
        return (control & twea) != 0;
    if (mode_ != Mode::address)
        return false;
    const std::uint8_t twar = avr_->data[twi_->r_twar];
    const auto mask = static_cast<std::uint8_t>(~avr_->data[twi_->r_twamr] >> 1);
    const int want = shift_ >> 1;
    general_ = want == 0 && (twar & 1) != 0 && (shift_ & 1) == 0;
    const bool match = general_ || (want != 0 && ((want ^ twar >> 1) & mask & 0x7f) == 0);
    addressed_as_ = (shift_ & 1) != 0 ? Mode::sending : Mode::receiving;
    return (control & twen) != 0 && (control & twea) != 0 && match;
}

// The slave's status after a byte and its ACK bit, with TWINT.
void TwiMaster::after_ack()
{
    const std::uint8_t in = shift_;
    shift_ = 0;
    switch (mode_) {
    case Mode::address:
        if (!ack_) {
            mode_ = Mode::ignoring;
            return;
        }
        mode_ = addressed_as_;
        interrupt(mode_ == Mode::sending ? st_address : general_ ? sr_general : sr_address);
        return;
    case Mode::receiving:
        avr_->data[twi_->r_twdr] = in;
        if (general_)
            interrupt(ack_ ? sr_general_ack : sr_general_nack);
        else
            interrupt(ack_ ? sr_data_ack : sr_data_nack);
        if (!ack_)
            mode_ = Mode::ignoring;
        return;
    case Mode::sending:
        if (!master_ack_) {
            interrupt(st_data_nack);
            mode_ = Mode::ignoring;
        } else if (last_byte_) {
            interrupt(st_last_data);
            mode_ = Mode::sent_last;
        } else {
            interrupt(st_data_ack);
        }
        return;
    default:
        return;
    }
}

// The slave puts a bit of its byte on SDA while SCL is low: once it has let
// go of SCL, with TWDR as the firmware left it.
void TwiMaster::prepare(int bit)
{
    if (bit > 7 || (mode_ != Mode::sending && mode_ != Mode::sent_last))
        return;
    if (stretching_) {
        pending_bit_ = bit;
        return;
    }
    if (bit == 0) {
        out_ = mode_ == Mode::sending ? avr_->data[twi_->r_twdr] : 0xff;
        last_byte_ = !ea_;
    }
    slave_sda_ = out_ >> (7 - bit) & 1;
    line_changed(static_cast<double>(avr_->cycle));
}

void TwiMaster::interrupt(std::uint8_t status)
{
    avr_regbit_setto_raw(avr_, twi_->twsr, status);
    avr_raise_interrupt(avr_, &twi_->twi);
    stretching_ = true;
    pending_bit_ = -1;
}

// The firmware writes TWCR: TWINT written 1 lets go of SCL.
void TwiMaster::on_twcr(avr_irq_t * /*irq*/, std::uint32_t value, void *param)
{
    auto *self = static_cast<TwiMaster *>(param);
    avr_twi_t *twi = self->twi_;
    // simavr's own TWI state machine would take a slave's TWDR and TWCR
    // writes for a master's; it is kept in its slave state, which only
    // reports, unless the firmware is a master itself.
    if ((value & twen) != 0 && (value & twsta) == 0 && (twi->state & TWI_COND_START) == 0)
        twi->state = TWI_COND_SLAVE | TWI_COND_ADDR;
    if ((value & twint) == 0 || !self->stretching_)
        return;
    self->stretching_ = false;
    self->released_at_ = self->avr_->cycle;
    self->ea_ = (value & twea) != 0;
    if (self->pending_bit_ >= 0) {
        const int bit = self->pending_bit_;
        self->pending_bit_ = -1;
        self->prepare(bit);
    }
}

avr_cycle_count_t TwiMaster::on_timer(avr_t * /*avr*/, avr_cycle_count_t /*when*/, void *param)
{
    static_cast<TwiMaster *>(param)->reached_ = true;
    return 0;
}

} // namespace wpisim
