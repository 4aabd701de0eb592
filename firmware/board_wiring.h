// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* How the board is wired: the pins and the timer the firmware uses, told once
 * for the firmware and for the simulator that runs it. Plain C, usable from
 * C++. Include it after the part's register names: <avr/io.h> on the AVR, the
 * same avr-libc part header in the simulator. */
#ifndef BOARD_WIRING_H
#define BOARD_WIRING_H

/* Ports are given by letter, so each side can build the names it needs:
 * BOARD_REG(PIN, BOARD_SPI_PORT) is PINB; BOARD_PORT_LETTER(BOARD_SPI_PORT) is 'B'. */
#define BOARD_REG(kind, port) BOARD_REG_(kind, port)
#define BOARD_REG_(kind, port) kind##port
#define BOARD_PORT_LETTER(port) BOARD_PORT_LETTER_(port)
#define BOARD_PORT_LETTER_(port) (#port[0])

/* The SPI slave: SS D10 is the Pi's CE0, MISO D12, on the hardware SPI pins. */
#define BOARD_SPI_PORT B
#define BOARD_SS_BIT PORTB2
#define BOARD_MISO_BIT PORTB4
/* SS changes reach the firmware as this pin-change interrupt. */
#define BOARD_SS_PCINT PCINT2
#define BOARD_SS_PCIE PCIE0
#define BOARD_SS_PCMSK PCMSK0
#define BOARD_SS_VECT PCINT0_vect
#define BOARD_SS_VECT_NUM PCINT0_vect_num

/* The outputs, D5 (A) and D6 (B), are timer 0's compare outputs B and A, so a
 * fade is a PWM duty. */
#define BOARD_OUT_PORT D
#define BOARD_OUT_A_BIT PORTD5
#define BOARD_OUT_A_OCR OCR0B
#define BOARD_OUT_A_COM COM0B1
#define BOARD_OUT_B_BIT PORTD6
#define BOARD_OUT_B_OCR OCR0A
#define BOARD_OUT_B_COM COM0A1
#define BOARD_PWM_TCCRA TCCR0A
#define BOARD_PWM_TCCRB TCCR0B

#endif
