// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// An SPI slave that answers each byte with the one before it in upper case:
// one of the two boards of examples/two_boards.c.

ISR(SPI_STC_vect)
{
    const byte in = SPDR;
    SPDR = in >= 'a' && in <= 'z' ? static_cast<byte>(in - 'a' + 'A') : in;
}

void setup()
{
    pinMode(MISO, OUTPUT);
    SPCR = _BV(SPE) | _BV(SPIE);
}

void loop() {}
