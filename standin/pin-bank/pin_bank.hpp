// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The Pi's GPIO bank: every pin's function, output latch, pull, what drives it
// from outside and its edges, in one shared file of the state directory
// ("pins"), mapped by every process of the bench. A pin's state outlives the
// program that set it, as on a Pi, and a write is one store to memory, as on
// a Pi; an edge wakes whoever waits for it, in any process.

#include <atomic>
#include <cstdint>
#include <string>

namespace wpisim::gpio
{

// BCM GPIOs: 54 on the BCM283x and BCM2711 (58 counting the 2711's
// internal ones), 54 on the RP1.
constexpr int gpio_count = 58;
constexpr int pwm_channels = 4;
constexpr int edge_ring = 16; // the kernel keeps this many line events for a reader

// A pin's function, by the BCM's FSEL codes, as getAlt reports them.
enum Function : std::uint8_t {
    fn_input = 0,
    fn_output = 1,
    fn_alt5 = 2,
    fn_alt4 = 3,
    fn_alt0 = 4,
    fn_alt1 = 5,
    fn_alt2 = 6,
    fn_alt3 = 7,
};

enum Pull : std::uint8_t { pull_off = 0, pull_down = 1, pull_up = 2 };
enum Drive : std::uint8_t { drive_none = 0, drive_low = 1, drive_high = 2 };

struct Edge {
    std::atomic<std::int64_t> at_ns;
    std::atomic<std::uint8_t> rising;
};

struct Pin {
    std::atomic<std::uint8_t> function;
    std::atomic<std::uint8_t> latch; // the output register: 0 or 1
    std::atomic<std::uint8_t> pull;
    std::atomic<std::uint8_t> drive; // from outside: a button, another circuit
    std::atomic<std::uint8_t> level; // at the pin, as its edges last left it
    std::uint8_t pad[3];
    std::atomic<std::uint32_t> edges;      // how many so far; waiters sleep on it
    std::atomic<std::uint32_t> waiters;    // sleeping on edges now, in any process
    std::atomic<std::int32_t> soft_pid;    // the process running a soft PWM or tone on it
    std::atomic<std::uint32_t> soft_value; // soft PWM: value of range; soft tone: Hz
    std::atomic<std::uint32_t> soft_range; // 0 for a tone
    Edge ring[edge_ring];
};

struct PwmChannel {
    std::atomic<std::uint32_t> range;
    std::atomic<std::uint32_t> data;
    std::atomic<std::uint8_t> mark_space; // else balanced
    std::uint8_t pad[7];
};

// An outside drive a test scheduled on the bench clock: at_ns after the
// set-up of the program that takes it, the one running or the next; or, from
// wpisim run, at_ns on the run's clock itself.
struct Scheduled {
    std::atomic<std::uint32_t> state; // one of the values below
    std::int32_t gpio;
    std::uint8_t drive;
    std::uint8_t on_clock; // at_ns is the bench clock's own time
    std::uint8_t pad[6];
    std::int64_t at_ns;
};
enum : std::uint32_t { slot_free = 0, slot_filling = 1, slot_pending = 2 };
constexpr int schedule_slots = 64;

struct Bank {
    char magic[8];
    std::uint32_t version;
    std::uint32_t size;
    std::atomic<std::uint32_t> lock;          // for changes that settle a level
    std::atomic<std::uint32_t> clock_divisor; // pwmSetClock's, as the BCM's divider holds it
    Pin pins[gpio_count];
    PwmChannel pwm[pwm_channels];
    std::atomic<std::uint32_t> scheduled; // bumped at each new one; programs watch it
    std::uint32_t pad;
    Scheduled schedule[schedule_slots];
};

// Adds a scheduled drive; false when all slots are taken.
bool schedule(Bank &b, int gpio, int drive, std::int64_t at_ns, bool on_clock = false);

// The bank of this state directory, mapped on first use; a file that is not
// a bank this build wrote ends the process with the stand-in's own error.
// pulls: each GPIO's pull after power-on, for a new bank.
Bank &bank(const char *call, const std::uint8_t (&pulls)[gpio_count]);

// The level a pin's function, latch, outside drive and pull settle it to:
// an output's latch, else what drives it from outside, else its pull (a pin
// with none reads low, as a floating input most often does).
int settled_level(int function, int latch, int pull, int drive);

// Changes what settles a pin's level (its function, pull or outside drive) and
// records the edge that makes, at at_ns, waking whoever waits for it.
// True if it made an edge.
bool settle(Bank &b, int gpio, std::int64_t at_ns, int function, int pull, int drive);

// digitalWrite: the output latch; on an output that changes its level, the
// edge is recorded as settle records it, at now on the bench clock. A write
// that changes nothing costs no more than a load.
bool write_latch(Bank &b, int gpio, int value);

// Waits, as waitForInterrupt and an interrupt's thread wait, for the pin's
// edge count to move from seen, or timeout_ns (-1: none).
void wait_edges(Pin &p, std::uint32_t seen, std::int64_t timeout_ns);

// Waits until a shared counter (a pin's edges, the schedule's) is no longer
// seen, or timeout_ns (-1: none) passes; any process can wake it.
void wait_word(std::atomic<std::uint32_t> &word, std::uint32_t seen, std::int64_t timeout_ns);
void wake_edges(Pin &p);

// What a PWM channel sends: pulses a second and the share of time high
// (0..1), from its range, data and mode and the clock after the divider.
struct Wave {
    double hz;
    double duty;
};
Wave pwm_wave(const PwmChannel &c, double clock_hz);

} // namespace wpisim::gpio
