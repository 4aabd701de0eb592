// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Echoes every byte typed on the serial port at 115200 baud, and answers
// each SPI byte with the low byte of micros() when the last one came in, so
// its answers show the board's time to the microsecond.

#include <SPI.h>

ISR(SPI_STC_vect)
{
    SPDR = static_cast<byte>(micros());
}

void setup()
{
    Serial.begin(115200);
    pinMode(MISO, OUTPUT);
    SPCR |= _BV(SPE);
    SPI.attachInterrupt(); // NOLINT(readability-static-accessed-through-instance)
}

void loop()
{
    while (Serial.available() > 0)
        Serial.write(Serial.read());
}
