// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The board's side of examples/i2c_registers.c: a Wire slave at 0x08 with
// eight registers. The master writes a register number, then any bytes to
// store from there on; a read gives the registers from the last number on.
//   0: 0x42, who this is    1: 3, a version    2: free for the master
//   3: reads served so far  4-5: 0x1234, a 16-bit value, low byte first
#include <Wire.h>

const uint8_t address = 0x08;

volatile uint8_t registers[8] = {0x42, 3, 0, 0, 0x34, 0x12, 0, 0};
volatile uint8_t selected = 0;

void received(int count)
{
    if (count < 1)
        return;
    selected = Wire.read() & 7;
    for (uint8_t at = selected; Wire.available() > 0; at = (at + 1) & 7)
        registers[at] = Wire.read();
}

void requested()
{
    uint8_t out[8];
    for (uint8_t i = 0; i < 8; ++i)
        out[i] = registers[(selected + i) & 7];
    Wire.write(out, sizeof out);
    registers[3]++;
}

void setup()
{
    Wire.begin(address);
    Wire.onReceive(received);
    Wire.onRequest(requested);
}

void loop() {}
