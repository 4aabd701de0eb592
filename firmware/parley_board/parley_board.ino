// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The board's firmware on the Arduino core, for those who build with the
// Arduino IDE, arduino-cli or arduino-mk: the same protocol (protocol.c, in
// this folder so every one of them compiles it) and the same replies as the
// avr-libc build, firmware/main.c. SPI slave in mode 0; the fade shows on D5
// and D6 through analogWrite().

#include <Arduino.h>
#include <avr/sleep.h>

#include "protocol.h"

// The SS pin-change interrupt below is PCINT0_vect: true of the Uno's D10 and
// the Mega's D53.
static_assert(digitalPinToPCICRbit(SS) == 0, "SS is not in pin-change group 0");

static const uint8_t OUT_A = 5;
static const uint8_t OUT_B = 6;
// protocol.h's tick: about every 10 ms.
static const unsigned long TICK_MS = 10;

static struct board board;

// Port registers looked up once: the SS interrupt must drive MISO before the
// first clock edge, and pinMode() or digitalRead() in it would cost microseconds.
static volatile uint8_t *ss_in;
static uint8_t ss_mask;
static volatile uint8_t *miso_ddr;
static uint8_t miso_mask;

static unsigned long last_tick;

// The core's port tables hold register addresses as integers.
static volatile uint8_t *input_register(uint8_t pin)
{
    // cppcheck-suppress cstyleCast
    return portInputRegister(digitalPinToPort(pin)); // NOLINT(performance-no-int-to-ptr)
}

static volatile uint8_t *mode_register(uint8_t pin)
{
    // cppcheck-suppress cstyleCast
    return portModeRegister(digitalPinToPort(pin)); // NOLINT(performance-no-int-to-ptr)
}

static bool selected()
{
    return (*ss_in & ss_mask) == 0;
}

// What the board records as sent must be what is in SPDR: the two change
// together, here only.
static void load_first(uint8_t first)
{
    SPDR = first;
    board_loaded(&board, first);
}

ISR(SPI_STC_vect)
{
    const uint8_t in = SPDR;
    // A byte already taken when SS rose is not taken again.
    if (board.selected != 0)
        SPDR = board_byte(&board, in);
}

// SS, the Pi's CE0, frames each exchange: low for its two bytes.
ISR(PCINT0_vect)
{
    if (selected()) {
        // A slave's MISO direction is ours to set: drive it only while
        // selected, so another device can answer on CE1. First, as the first
        // clock edge is near.
        *miso_ddr |= miso_mask;
        board_select(&board);
    } else {
        *miso_ddr &= (uint8_t)~miso_mask;
        // SS can rise before the last byte's interrupt ran; this interrupt
        // comes first, so take the byte now. Reading SPSR then SPDR clears
        // its flag.
        if (SPSR & _BV(SPIF))
            (void)board_byte(&board, SPDR);
        load_first(board_deselect(&board));
    }
}

void setup()
{
    pinMode(OUT_A, OUTPUT);
    pinMode(OUT_B, OUTPUT);
    digitalWrite(OUT_A, LOW);
    digitalWrite(OUT_B, LOW);
    // MISO is an input until selected; SS is pulled up while the Pi is not wired.
    pinMode(MISO, INPUT);
    pinMode(SS, INPUT_PULLUP);
    ss_in = input_register(SS);
    ss_mask = digitalPinToBitMask(SS);
    miso_ddr = mode_register(MISO);
    miso_mask = digitalPinToBitMask(MISO);

    // The core has enabled interrupts already: nothing may reach the
    // protocol before it is set up.
    noInterrupts();
    board_init(&board);
    *digitalPinToPCMSK(SS) |= _BV(digitalPinToPCMSKbit(SS));
    PCICR |= _BV(digitalPinToPCICRbit(SS));
    // Slave, mode 0, MSB first. Enabled first: SPDR takes no byte while the
    // SPI is off.
    SPCR = _BV(SPE) | _BV(SPIE);
    load_first(board_first(&board));
    last_tick = millis();
    set_sleep_mode(SLEEP_MODE_IDLE);
    interrupts();
}

// Full brightness and dark are plain levels in analogWrite(), as in main.c.
static void show_outputs(uint8_t a, uint8_t b)
{
    analogWrite(OUT_A, a);
    analogWrite(OUT_B, b);
}

void loop()
{
    // Catch up tick by tick, so the pace stays that of a timer.
    if (millis() - last_tick < TICK_MS) {
        // Until the next interrupt, millis()'s own at the latest: as the
        // avr-libc build, the board sleeps while it waits.
        sleep_mode();
        return;
    }
    last_tick += TICK_MS;

    // The tick and the SPI interrupts share the board: as in a timer
    // interrupt, neither runs inside the other.
    noInterrupts();
    const uint8_t changed = board_tick(&board);
    // SPDR is reloaded only while SS is high: once SS has fallen, even with
    // its interrupt still pending, the exchange has the byte it has.
    if ((changed & BOARD_FIRST_CHANGED) != 0 && !selected())
        load_first(board_first(&board));
    const uint8_t a = board.level[0];
    const uint8_t b = board.level[1];
    interrupts();

    // Outside the critical section, so an exchange's SS interrupt is not held
    // up; only this tick changes the levels.
    if ((changed & BOARD_OUTPUTS_CHANGED) != 0)
        show_outputs(a, b);
}
