// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The AVR's pins that wires join to the Pi's GPIO. What the Pi puts on a wire
// reaches the pin at its own cycle, as a level outside the chip: its PIN bit,
// pin-change and external interrupts follow as on the board. What the AVR
// puts on a wire (its DDR and PORT bits: a level, a pull-up, or nothing) is
// reported at the cycle the firmware wrote it.

#include "link.hpp"

#include <sim_avr.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace wpisim
{

class AvrPins
{
  public:
    explicit AvrPins(avr_t *avr) : avr_(avr) {}
    ~AvrPins();
    AvrPins(const AvrPins &) = delete;
    AvrPins &operator=(const AvrPins &) = delete;

    // A side of a wire changed: the AVR's (board true) or the Pi's, at cycle.
    using Changed = std::function<void(int wire, bool board, int side, avr_cycle_count_t cycle)>;
    // The wires, each a port letter and bit; changed hears each change of
    // either side from here on. Empty, or why a pin is not this AVR's.
    std::string wire(const std::vector<link::WireEnds> &wires, Changed changed);
    // The Pi's side of a wire from cycle on (at once if that is past).
    void pi_side(int wire, int side, avr_cycle_count_t cycle);
    int avr_side(int wire) const;
    int pi_side_now(int wire) const { return pins_[static_cast<std::size_t>(wire)].pi; }
    // A level held on a pin from outside (-1: let go), such as SS from CE0:
    // simavr then keeps it when the firmware writes the port, instead of
    // applying the pull-up. One mask a port, for these and the wires alike.
    void hold(char port, int bit, int level);

  private:
    struct Pin {
        char port;
        std::uint8_t bit;
        int avr = link::side_none;
        int pi = link::side_none;
    };
    struct Due {
        avr_cycle_count_t cycle;
        int wire;
        int side;
    };

    struct Watch {
        AvrPins *self;
        char port;
        std::uint8_t port_value;
        std::uint8_t ddr_value;
    };

    void unwire();
    void apply(int wire, int side);
    void look(const Watch &w);
    void arm();
    static void on_port(avr_irq_t *irq, std::uint32_t value, void *param);
    static void on_ddr(avr_irq_t *irq, std::uint32_t value, void *param);
    static avr_cycle_count_t on_due(avr_t *avr, avr_cycle_count_t when, void *param);

    struct Held {
        char port;
        unsigned mask;
        unsigned value;
    };
    Held &held(char port);

    avr_t *avr_;
    std::vector<Held> held_;
    std::vector<Pin> pins_;
    Changed changed_;
    std::deque<Due> due_;       // soonest first
    std::deque<Watch> watches_; // a deque: simavr holds pointers to its entries
};

} // namespace wpisim
