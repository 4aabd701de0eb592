// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* The board's side of the conversation, in plain C so it builds for the AVR
 * and for the host's unit tests alike. The interrupt glue calls these. */
#ifndef BOARD_PROTOCOL_H
#define BOARD_PROTOCOL_H

#include <stdint.h> // NOLINT(modernize-deprecated-headers): shared with the C firmware

#ifdef __cplusplus
extern "C" {
#endif

enum {
    BOARD_OUTPUTS = 2,
    /* Ticks come about every 10 ms; a fade moves this much brightness a
     * tick, so 0 to 255 takes about 0.64 s. */
    BOARD_FADE_STEP = 4,
    /* parley exchanges every 513 ms or a little more, about 51 ticks. An
     * exchange that comes this many ticks after the last one continues its
     * conversation; one clearly earlier or later is a new run starting one. */
    BOARD_CYCLE_MIN_TICKS = 48,
    BOARD_CYCLE_MAX_TICKS = 60,
    /* Bytes clocked out past the second of an exchange. */
    BOARD_EXTRA_BYTE = '!',
};

/* What tick() changed, so the glue only touches what it must. */
enum { BOARD_OUTPUTS_CHANGED = 1, BOARD_FIRST_CHANGED = 2 };

struct board {
    uint8_t level[BOARD_OUTPUTS];  /* brightness now, 0..255 */
    uint8_t target[BOARD_OUTPUTS]; /* brightness asked for */
    uint8_t rx[2];                 /* bytes of the exchange in progress */
    uint8_t count;                 /* bytes received since select */
    uint8_t selected;              /* chip select is low */
    uint8_t talking;               /* a command arrived and 'i' has not been reported yet */
    uint8_t unknown;               /* the last command held a byte not understood */
    uint8_t loaded_first;          /* the first reply byte in SPDR, as board_loaded() told */
    uint8_t idle;                  /* ticks since the last exchange */
};

void board_init(struct board *b);

/* Chip select fell: a new exchange begins. */
void board_select(struct board *b);

/* A byte arrived from the Pi. Returns the byte to load for the next position. */
uint8_t board_byte(struct board *b, uint8_t in);

/* Chip select rose: an exchange of exactly two bytes is a command; anything
 * else was a lost or extra byte and is dropped. Returns board_first(). */
uint8_t board_deselect(struct board *b);

/* The first reply byte for an exchange that would begin now. */
uint8_t board_first(const struct board *b);

/* The glue loaded this first reply byte into SPDR. Only the glue knows
 * whether it could (not once an exchange has begun), so only it tells. */
void board_loaded(struct board *b, uint8_t first);

/* A timer tick: fades the outputs and counts the pause since the last
 * exchange. Returns BOARD_*_CHANGED flags; BOARD_FIRST_CHANGED means
 * board_first() now differs from what is loaded. */
uint8_t board_tick(struct board *b);

/* Whether tick() has anything to do: while it does not, the glue stops the
 * tick so an idle board sleeps undisturbed. */
int board_busy(const struct board *b);

/* Reply bytes: the status ('w', 'f', 'i') and the summary ('0'..'3', '?'). */
uint8_t board_status(const struct board *b);
uint8_t board_summary(const struct board *b);

#ifdef __cplusplus
}
#endif

#endif
