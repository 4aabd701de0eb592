// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "avr_pins.hpp"

#include <avr_ioport.h>
#include <sim_cycle_timers.h>
#include <sim_io.h>
#include <sim_irq.h>

#include <algorithm>

namespace wpisim
{

namespace
{

avr_irq_t *pin_irq(avr_t *avr, char port, int bit)
{
    return avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(port), bit);
}

int level_of(int side)
{
    return side == link::side_high || side == link::side_pull_up ? 1 : 0;
}

} // namespace

AvrPins::~AvrPins()
{
    unwire();
}

void AvrPins::unwire()
{
    avr_cycle_timer_cancel(avr_, on_due, this);
    for (Watch &w : watches_) {
        avr_irq_unregister_notify(pin_irq(avr_, w.port, IOPORT_IRQ_REG_PORT), on_port, &w);
        avr_irq_unregister_notify(pin_irq(avr_, w.port, IOPORT_IRQ_DIRECTION_ALL), on_ddr, &w);
    }
    watches_.clear();
    // What the Pi held on the pins is let go.
    const std::vector<Pin> was = std::move(pins_);
    pins_.clear();
    for (const Pin &p : was)
        hold(p.port, p.bit, -1);
    due_.clear();
}

std::string AvrPins::wire(const std::vector<link::WireEnds> &wires, Changed changed)
{
    unwire();
    for (const link::WireEnds &w : wires)
        if (w.bit > 7 || pin_irq(avr_, w.port, w.bit) == nullptr)
            return std::string("the board has no pin P") + w.port + std::to_string(w.bit);
    changed_ = nullptr;
    for (const link::WireEnds &w : wires) {
        pins_.push_back({w.port, w.bit});
        const bool watched = std::any_of(watches_.begin(), watches_.end(),
                                         [&](const Watch &x) { return x.port == w.port; });
        if (!watched) {
            avr_ioport_state_t state{};
            avr_ioctl(avr_, AVR_IOCTL_IOPORT_GETSTATE(w.port), &state);
            watches_.push_back({this, w.port, static_cast<std::uint8_t>(state.port),
                                static_cast<std::uint8_t>(state.ddr)});
            Watch *added = &watches_.back();
            avr_irq_register_notify(pin_irq(avr_, w.port, IOPORT_IRQ_REG_PORT), on_port, added);
            avr_irq_register_notify(pin_irq(avr_, w.port, IOPORT_IRQ_DIRECTION_ALL), on_ddr, added);
        }
    }
    // The AVR's sides as they are: the caller reads them, no change is told.
    for (const Watch &w : watches_)
        look(w);
    changed_ = std::move(changed);
    return "";
}

int AvrPins::avr_side(int wire) const
{
    return pins_[static_cast<std::size_t>(wire)].avr;
}

void AvrPins::pi_side(int wire, int side, avr_cycle_count_t cycle)
{

    if (cycle <= avr_->cycle && due_.empty()) {
        apply(wire, side);
        return;
    }
    // Changes from several runs keep their order at one cycle.
    auto at = std::upper_bound(due_.begin(), due_.end(), cycle,
                               [](avr_cycle_count_t c, const Due &d) { return c < d.cycle; });
    due_.insert(at, Due{std::max(cycle, avr_->cycle), wire, side});
    arm();
}

void AvrPins::arm()
{
    if (due_.empty())
        avr_cycle_timer_cancel(avr_, on_due, this);
    else
        avr_cycle_timer_register(
            avr_, due_.front().cycle > avr_->cycle ? due_.front().cycle - avr_->cycle : 0, on_due,
            this);
}

avr_cycle_count_t AvrPins::on_due(avr_t *avr, avr_cycle_count_t /*when*/, void *param)
{
    auto *self = static_cast<AvrPins *>(param);
    while (!self->due_.empty() && self->due_.front().cycle <= avr->cycle) {
        const Due d = self->due_.front();
        self->due_.pop_front();
        self->apply(d.wire, d.side);
    }
    return self->due_.empty() ? 0 : self->due_.front().cycle;
}

// The Pi's side as a level from outside the chip; with nothing from the Pi
// the pin keeps the AVR's own pull-up, or floats where it last was.
void AvrPins::apply(int wire, int side)
{
    Pin &p = pins_[static_cast<std::size_t>(wire)];
    p.pi = side;
    hold(p.port, p.bit, side == link::side_none ? -1 : level_of(side));
    if (changed_)
        changed_(wire, false, side, avr_->cycle);
    if (side != link::side_none)
        avr_raise_irq(pin_irq(avr_, p.port, p.bit), static_cast<std::uint32_t>(level_of(side)));
    else if (p.avr == link::side_pull_up)
        avr_raise_irq(pin_irq(avr_, p.port, p.bit), 1);
}

AvrPins::Held &AvrPins::held(char port)
{
    for (Held &h : held_)
        if (h.port == port)
            return h;
    held_.push_back({port, 0, 0});
    return held_.back();
}

void AvrPins::hold(char port, int bit, int level)
{
    Held &h = held(port);
    const unsigned mask = 1U << bit;
    h.mask = level < 0 ? h.mask & ~mask : h.mask | mask;
    h.value = level > 0 ? h.value | mask : h.value & ~mask;
    avr_ioport_external_t e{};
    e.name = static_cast<unsigned char>(port);
    e.mask = h.mask & 0xff;
    e.value = h.value & 0xff;
    avr_ioctl(avr_, AVR_IOCTL_IOPORT_SET_EXTERNAL(port), &e);
}

// The port's new value, or its direction's: simavr tells each as it is
// written, the register itself perhaps not yet.
void AvrPins::on_port(avr_irq_t * /*irq*/, std::uint32_t value, void *param)
{
    auto *w = static_cast<Watch *>(param);
    w->port_value = static_cast<std::uint8_t>(value);
    w->self->look(*w);
}

void AvrPins::on_ddr(avr_irq_t * /*irq*/, std::uint32_t value, void *param)
{
    auto *w = static_cast<Watch *>(param);
    w->ddr_value = static_cast<std::uint8_t>(value);
    w->self->look(*w);
}

// The AVR's side of each wire on the port, from its DDR and PORT bits.
void AvrPins::look(const Watch &w)
{
    for (std::size_t i = 0; i < pins_.size(); ++i) {
        Pin &p = pins_[i];
        if (p.port != w.port)
            continue;
        const bool output = (w.ddr_value >> p.bit & 1) != 0;
        const bool high = (w.port_value >> p.bit & 1) != 0;
        const int side = output ? (high ? link::side_high : link::side_low)
                                : (high ? link::side_pull_up : link::side_none);
        if (side == p.avr)
            continue;
        p.avr = side;
        if (changed_)
            changed_(static_cast<int>(i), true, side, avr_->cycle);
    }
}

} // namespace wpisim
