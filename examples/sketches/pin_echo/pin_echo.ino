// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The board's side of examples/pin_echo.c: D3 follows D2, an input the Pi
// drives, and D4 pulses high for 100 us every 20 ms, a "data ready" line.
// Each change of D2 is told on the serial port, with the board's millis().

const int pi_drives = 2;
const int echo = 3;
const int ready = 4;

void setup()
{
    Serial.begin(115200);
    pinMode(pi_drives, INPUT);
    pinMode(echo, OUTPUT);
    pinMode(ready, OUTPUT);
}

void loop()
{
    static int was = -1;
    static unsigned long last_ready = 0;
    const int now = digitalRead(pi_drives);
    digitalWrite(echo, now);
    if (now != was) {
        Serial.print(now == HIGH ? "D2 high at " : "D2 low at ");
        Serial.println(millis());
        was = now;
    }
    if (millis() - last_ready >= 20) {
        last_ready += 20;
        digitalWrite(ready, HIGH);
        delayMicroseconds(100);
        digitalWrite(ready, LOW);
    }
}
