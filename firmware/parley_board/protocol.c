// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "protocol.h"

void board_init(struct board *b)
{
    unsigned i;
    for (i = 0; i < BOARD_OUTPUTS; ++i) {
        b->level[i] = 0;
        b->target[i] = 0;
    }
    b->rx[0] = b->rx[1] = 0;
    b->count = 0;
    b->selected = 0;
    b->talking = 0;
    b->unknown = 0;
    b->idle = 0;
    b->loaded_first = 0; /* SPDR after reset */
}

static int fading(const struct board *b)
{
    unsigned i;
    for (i = 0; i < BOARD_OUTPUTS; ++i)
        if (b->level[i] != b->target[i])
            return 1;
    return 0;
}

int board_busy(const struct board *b)
{
    return b->talking || fading(b);
}

uint8_t board_status(const struct board *b)
{
    if (!b->talking)
        return 'w';
    return fading(b) ? 'f' : 'i';
}

uint8_t board_summary(const struct board *b)
{
    uint8_t lit = 0;
    unsigned i;
    if (b->unknown)
        return '?';
    for (i = 0; i < BOARD_OUTPUTS; ++i)
        if (b->level[i] >= 128)
            lit |= (uint8_t)(1U << i);
    return (uint8_t)('0' + lit);
}

void board_select(struct board *b)
{
    b->selected = 1;
    b->count = 0;
}

static int in_step(const struct board *b)
{
    return b->idle >= BOARD_CYCLE_MIN_TICKS && b->idle <= BOARD_CYCLE_MAX_TICKS;
}

uint8_t board_first(const struct board *b)
{
    /* Out of step with the conversation's pace, an exchange is a new run's
     * first: its command has not arrived yet. */
    return b->talking && in_step(b) ? board_status(b) : (uint8_t)'w';
}

void board_loaded(struct board *b, uint8_t first)
{
    b->loaded_first = first;
}

uint8_t board_byte(struct board *b, uint8_t in)
{
    if (b->count < 2)
        b->rx[b->count] = in;
    if (b->count < 255)
        ++b->count;
    /* The second reply byte is loaded now, after the first byte arrived. */
    return b->count == 1 ? board_summary(b) : (uint8_t)BOARD_EXTRA_BYTE;
}

/* 'a'/'b' ask output 0 to fade on/off, 'c'/'d' output 1. */
static int command(struct board *b, uint8_t output, uint8_t in, uint8_t on, uint8_t off)
{
    if (in == on)
        b->target[output] = 255;
    else if (in == off)
        b->target[output] = 0;
    else
        return 0;
    return 1;
}

uint8_t board_deselect(struct board *b)
{
    const int complete = b->selected && b->count == 2;
    b->selected = 0;
    if (complete) {
        const int known_a = command(b, 0, b->rx[0], 'a', 'b');
        const int known_b = command(b, 1, b->rx[1], 'c', 'd');
        b->unknown = !(known_a && known_b);
        /* 'i' is reported once: the exchange that carried it ends the
         * conversation, so a run that follows at parley's pace starts afresh
         * and never ends on the state an earlier run left behind. After any
         * other first byte, 'w' included, a conversation is going on. */
        b->talking = b->loaded_first != 'i';
    }
    b->count = 0;
    b->idle = 0;
    return board_first(b);
}

/* One fade step towards the targets. */
static uint8_t step(struct board *b)
{
    uint8_t changed = 0;
    unsigned i;
    for (i = 0; i < BOARD_OUTPUTS; ++i) {
        const uint8_t level = b->level[i];
        const uint8_t target = b->target[i];
        if (level < target)
            b->level[i] =
                target - level > BOARD_FADE_STEP ? (uint8_t)(level + BOARD_FADE_STEP) : target;
        else if (level > target)
            b->level[i] =
                level - target > BOARD_FADE_STEP ? (uint8_t)(level - BOARD_FADE_STEP) : target;
        else
            continue;
        changed |= BOARD_OUTPUTS_CHANGED;
    }
    return changed;
}

uint8_t board_tick(struct board *b)
{
    uint8_t changed = 0;
    if (!b->selected && b->idle < 255)
        ++b->idle;
    /* Past the pace, the conversation is over; the tick may stop. */
    if (b->idle > BOARD_CYCLE_MAX_TICKS)
        b->talking = 0;
    changed = step(b);
    if (!b->selected && board_first(b) != b->loaded_first)
        changed |= BOARD_FIRST_CHANGED;
    return changed;
}
