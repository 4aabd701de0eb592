// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

namespace wpisim::i2c
{

// The clock of the Pi's I2C bus unless the bench gives another.
constexpr int default_hz = 100000;

// One message of a transfer: bytes to write, or room for those read.
struct Message {
    int address = 0; // 7-bit
    bool read = false;
    unsigned char *data = nullptr;
    int len = 0;
};

// One transfer on the I2C bus of the Pi's header, the Pi the master at hz:
// its messages with repeated STARTs between them, then a STOP. It takes its
// time on the wire, on the bench's clock. 0, or the errno it fails with as
// the Pi's driver gives it: EREMOTEIO for a NACK, EIO when a slave held SCL
// low too long. call and fd name it in the log.
int transfer(const char *call, int fd, Message *messages, int count, int hz = default_hz);

// Opens the trace, as SPI or GPIO set-up does, and reaches the board.
void set_up();

} // namespace wpisim::i2c
