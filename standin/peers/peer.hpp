// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>
#include <memory>

namespace wpisim
{

// One full-duplex transfer as the Pi's SPI controller makes it.
struct Transfer {
    unsigned char *data = nullptr; // the bytes sent, overwritten with those clocked back
    int len = 0;
    // The chip select driven: 0 or 1, or no_chip_select when none reaches the peer.
    int channel = 0;
    int mode = 0;              // SPI mode 0-3: CPOL in bit 1, CPHA in bit 0
    std::int64_t start_ns = 0; // CE falls here; the first clock edge half a bit later
    std::int64_t bit_ns = 0;
};

constexpr int no_chip_select = -1;

// What became of a transfer.
struct Outcome {
    // Someone drove MISO. If not, the Pi reads its pull-down: the bus zeroes the bytes.
    bool answered = true;
    // When the transfer really began: later than asked when the bus was busy
    // with another run's transfer; -1 for as asked.
    std::int64_t began_ns = -1;
    // Host CPU time the transfer cost outside this process (a board process).
    std::int64_t remote_cpu_ns = 0;
    // What the board shows on D5 and D6 (0..255: a level or a PWM duty), when
    // the peer has such outputs.
    bool has_outputs = false;
    int d5 = 0;
    int d6 = 0;
};

// The device at the far end of the simulated SPI bus.
class Peer
{
  public:
    Peer() = default;
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    virtual ~Peer() = default;

    virtual Outcome exchange(const Transfer &t) = 0;
    virtual const char *name() const = 0;
};

// These sit on both chip selects and know nothing of SPI modes.
std::unique_ptr<Peer> make_script_peer(const char *replies);
std::unique_ptr<Peer> make_model_peer();
std::unique_ptr<Peer> make_loopback_peer();

} // namespace wpisim
