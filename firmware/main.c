// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* Arduino Uno (ATmega328P, 16 MHz) firmware: SPI slave in mode 0 that fades
 * two outputs on the Pi's command. The protocol lives in protocol.c; this
 * file is the interrupt glue. The pins and timer are in board_wiring.h. */

#include "protocol.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>

#include "board_wiring.h"

#define SPI_PIN BOARD_REG(PIN, BOARD_SPI_PORT)
#define SPI_DDR BOARD_REG(DDR, BOARD_SPI_PORT)
#define SPI_PORT BOARD_REG(PORT, BOARD_SPI_PORT)
#define OUT_DDR BOARD_REG(DDR, BOARD_OUT_PORT)
#define OUT_PORT BOARD_REG(PORT, BOARD_OUT_PORT)

#ifdef WITH_MMCU_SECTION
/* Tells the simulator which part and clock this ELF is for. */
#include <avr_mcu_section.h>
AVR_MCU(F_CPU, "atmega328p");
#endif

static struct board board;

static int selected(void)
{
    return (SPI_PIN & _BV(BOARD_SS_BIT)) == 0;
}

/* Full brightness and dark are plain levels: PWM at 0 would still pulse. */
static void drive(uint8_t level, volatile uint8_t *ocr, uint8_t com_bit, uint8_t pin)
{
    if (level == 0 || level == 255) {
        BOARD_PWM_TCCRA &= (uint8_t)~_BV(com_bit);
        if (level == 255)
            OUT_PORT |= _BV(pin);
        else
            OUT_PORT &= (uint8_t)~_BV(pin);
    } else {
        *ocr = level;
        BOARD_PWM_TCCRA |= _BV(com_bit);
    }
}

static int mid(uint8_t level)
{
    return level != 0 && level != 255;
}

static void show_outputs(void)
{
    drive(board.level[0], &BOARD_OUT_A_OCR, BOARD_OUT_A_COM, BOARD_OUT_A_BIT);
    drive(board.level[1], &BOARD_OUT_B_OCR, BOARD_OUT_B_COM, BOARD_OUT_B_BIT);
    /* Timer 0 runs only while a PWM is needed. */
    if (mid(board.level[0]) || mid(board.level[1]))
        BOARD_PWM_TCCRB = _BV(CS01) | _BV(CS00);
    else
        BOARD_PWM_TCCRB = 0;
}

/* The tick runs only while there is something to do, so an idle board sleeps. */
static void tick_when_busy(void)
{
    if (board_busy(&board))
        TIMSK2 = _BV(OCIE2A);
    else
        TIMSK2 = 0;
}

/* What the board records as sent must be what is in SPDR: the two change
 * together, here only. */
static void load_first(uint8_t first)
{
    SPDR = first;
    board_loaded(&board, first);
}

ISR(SPI_STC_vect)
{
    const uint8_t in = SPDR;
    /* A byte already taken when SS rose is not taken again. */
    if (board.selected)
        SPDR = board_byte(&board, in);
}

/* SS, the Pi's CE0, frames each exchange: low for its two bytes. */
ISR(BOARD_SS_VECT)
{
    if (selected()) {
        /* A slave's MISO direction is ours to set (the SPI overrides it only
         * as a master): drive it only while selected, so another device can
         * answer on CE1. First, as the first clock edge is near. */
        SPI_DDR |= _BV(BOARD_MISO_BIT);
        board_select(&board);
    } else {
        SPI_DDR &= (uint8_t)~_BV(BOARD_MISO_BIT);
        /* SS can rise before the last byte's interrupt ran (a fast clock, or
         * the tick in the way); this interrupt comes first, so take the byte
         * now. Reading SPSR then SPDR clears its flag. */
        if (SPSR & _BV(SPIF))
            (void)board_byte(&board, SPDR);
        load_first(board_deselect(&board));
        tick_when_busy();
    }
}

static volatile uint8_t tick_due;

/* About 100 Hz: 16 MHz / 1024 / 156. Only says so: the tick's work runs in
 * the main loop, where the SS and SPI interrupts can cut in, so a tick never
 * holds back the SS interrupt that must drive MISO before the first clock
 * edge. */
ISR(TIMER2_COMPA_vect)
{
    tick_due = 1;
}

/* The protocol's state is shared with the SS and SPI interrupts: updated with
 * them held off, for as short a time as the update takes. */
static void tick(void)
{
    uint8_t changed;
    cli();
    changed = board_tick(&board);
    /* SPDR is reloaded only while SS is high, by the pin itself: once SS has
     * fallen, even with its interrupt still pending, the exchange has the
     * byte it has. */
    if ((changed & BOARD_FIRST_CHANGED) && !selected())
        load_first(board_first(&board));
    tick_when_busy();
    sei();
    /* The levels change only here; the registers are the outputs' alone. */
    if (changed & BOARD_OUTPUTS_CHANGED)
        show_outputs();
}

int main(void)
{
    board_init(&board);

    SPI_DDR = 0;                  /* all in: MISO is driven only while selected */
    SPI_PORT = _BV(BOARD_SS_BIT); /* pull SS up while the Pi is not wired */
    OUT_DDR = _BV(BOARD_OUT_A_BIT) | _BV(BOARD_OUT_B_BIT);
    OUT_PORT = 0;

    /* Timer 0: fast PWM for the outputs, started when a fade needs it. */
    BOARD_PWM_TCCRA = _BV(WGM01) | _BV(WGM00);
    /* Timer 2: the fade tick, CTC at clock / 1024 / 156. */
    TCCR2A = _BV(WGM21);
    TCCR2B = _BV(CS22) | _BV(CS21) | _BV(CS20);
    OCR2A = 155;

    BOARD_SS_PCMSK = _BV(BOARD_SS_PCINT);
    PCICR = _BV(BOARD_SS_PCIE);

    /* Slave, mode 0, MSB first. Enabled first: SPDR takes no byte while
     * the SPI is off. */
    SPCR = _BV(SPE) | _BV(SPIE);
    load_first(board_first(&board));

    set_sleep_mode(SLEEP_MODE_IDLE);
    sei();
    for (;;) {
        /* Asleep unless a tick is due: checked with interrupts off and
         * slept with sei right before sleep, so no tick is missed. */
        cli();
        if (tick_due) {
            tick_due = 0;
            sei();
            tick();
        } else {
            sleep_enable();
            sei();
            sleep_cpu();
            sleep_disable();
        }
    }
}
