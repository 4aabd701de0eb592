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
    /* A pause this many ticks long (about a second, twice parley's cycle)
     * ends a conversation, even one that was cut short before its 'i'. */
    BOARD_IDLE_TICKS = 100,
    /* Bytes clocked out past the second of an exchange. */
    BOARD_EXTRA_BYTE = '!',
};

/* What tick() changed, so the glue only touches what it must. */
enum { BOARD_OUTPUTS_CHANGED = 1, BOARD_STATUS_CHANGED = 2 };

struct board {
    uint8_t level[BOARD_OUTPUTS];  /* brightness now, 0..255 */
    uint8_t target[BOARD_OUTPUTS]; /* brightness asked for */
    uint8_t rx[2];                 /* bytes of the exchange in progress */
    uint8_t count;                 /* bytes received since select */
    uint8_t selected;              /* chip select is low */
    uint8_t talking;               /* a command arrived and 'i' has not been reported yet */
    uint8_t unknown;               /* the last command held a byte not understood */
    uint8_t loaded_first;          /* the first reply byte of the exchange in progress */
    uint8_t idle;                  /* ticks since the last exchange */
};

void board_init(struct board *b);

/* Chip select fell: a new exchange begins. */
void board_select(struct board *b);

/* A byte arrived from the Pi. Returns the byte to load for the next position. */
uint8_t board_byte(struct board *b, uint8_t in);

/* Chip select rose: an exchange of exactly two bytes is a command; anything
 * else was a lost or extra byte and is dropped. Returns the first reply byte
 * of the next exchange. */
uint8_t board_deselect(struct board *b);

/* A timer tick: fades the outputs. Returns BOARD_*_CHANGED flags. */
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
