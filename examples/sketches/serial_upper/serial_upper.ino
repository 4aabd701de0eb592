// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Answers each line that comes on its serial port at 9600 baud (D0/D1, or
// USB on an Uno) with "> " and the line in capitals.

void setup()
{
    Serial.begin(9600);
}

void loop()
{
    static char line[64];
    static unsigned n = 0;
    while (Serial.available() > 0) {
        const int c = Serial.read();
        if (c == '\n') {
            Serial.print("> ");
            Serial.write(line, n);
            Serial.print('\n');
            n = 0;
        } else if (n < sizeof line) {
            line[n++] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
}
