// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// A Wire slave at 0x08 slow to answer: a read of register 0 is held 20 ms,
// one of register 1 is held 40 ms, in its request handler, so SCL is held low
// that long; the Pi's driver waits 35 ms at most.
#include <Wire.h>

volatile uint8_t selected = 0;

void received(int count)
{
    if (count > 0)
        selected = Wire.read();
}

void hold_ms(uint8_t ms)
{
    for (uint8_t i = 0; i < ms; ++i)
        delayMicroseconds(1000);
}

void requested()
{
    hold_ms(selected == 0 ? 20 : 40);
    Wire.write(0x40 + selected);
}

void setup()
{
    Wire.begin(0x08);
    Wire.onReceive(received);
    Wire.onRequest(requested);
}

void loop() {}
