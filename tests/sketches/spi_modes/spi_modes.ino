// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// An SPI slave that takes its SPI mode from the first byte it receives, in
// mode 0, and sets it between transfers as a sketch does with the SPI
// library; then it answers 0x69, 0x3d, 0x69, ... and prints each byte it
// receives on the serial port, so a test can see what each side got.

#include <SPI.h>

const byte replies[] = {0x69, 0x3d};
volatile int wanted = -1;
volatile bool configured;
volatile byte next;
volatile byte received[16];
volatile byte count;
byte printed;

ISR(SPI_STC_vect)
{
    const byte in = SPDR;
    if (!configured) {
        configured = true;
        wanted = in & 3;
    } else if (count < sizeof received) {
        received[count++] = in;
    }
    SPDR = replies[next];
    next ^= 1;
}

void setup()
{
    Serial.begin(115200);
    pinMode(MISO, OUTPUT);
    SPCR = _BV(SPE) | _BV(SPIE); // slave, mode 0
    Serial.println("ready");
}

void loop()
{
    if (wanted >= 0 && digitalRead(SS) == HIGH) {
        // SPI_MODE0 to SPI_MODE3 are SPCR's CPHA and CPOL bits; as users
        // write it, through the instance.
        const byte mode = wanted << 2;
        SPI.setDataMode(mode); // NOLINT(readability-static-accessed-through-instance)
        Serial.print("mode ");
        Serial.println(wanted);
        wanted = -1;
    }
    while (printed < count) {
        Serial.print("got ");
        Serial.println(received[printed++], HEX);
    }
}
