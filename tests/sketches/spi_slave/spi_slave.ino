// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// An SPI slave written as users write one on the Arduino core, for the bench
// to run as it would run theirs: it answers every byte with its reply byte,
// prints what it received on the serial port, and takes a new reply byte
// from what is typed there.

#include <SPI.h>

volatile byte received;
volatile bool got_one;
volatile byte reply = 'r';

ISR(SPI_STC_vect)
{
    received = SPDR;
    got_one = true;
    SPDR = reply;
}

void setup()
{
    Serial.begin(9600);
    pinMode(MISO, OUTPUT);
    SPCR |= _BV(SPE);
    SPDR = reply;
    // As users write it, through the instance.
    SPI.attachInterrupt(); // NOLINT(readability-static-accessed-through-instance)
    Serial.println("spi_slave ready");
}

void loop()
{
    if (got_one) {
        got_one = false;
        Serial.print("received ");
        Serial.println(received, HEX);
    }
    if (Serial.available() > 0) {
        reply = Serial.read();
        Serial.print("reply ");
        Serial.println(reply, HEX);
    }
}
