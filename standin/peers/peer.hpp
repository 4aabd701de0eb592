// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>
#include <memory>

namespace wpisim
{

// The device at the far end of the simulated SPI bus.
class Peer
{
  public:
    Peer() = default;
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    virtual ~Peer() = default;

    // One full-duplex transfer: data holds the bytes sent and is overwritten
    // with the bytes the peer clocked back. The first clock edge goes out at
    // start_ns and each bit lasts bit_ns.
    virtual void exchange(unsigned char *data, int len, std::int64_t start_ns,
                          std::int64_t bit_ns) = 0;
    virtual const char *name() const = 0;
    // When the last exchange really began: later than asked when the bus was
    // busy with another run's transfer; -1 for as asked.
    virtual std::int64_t began_ns() const { return -1; }
    // Whether it sits on this chip select; on another, nobody drives MISO.
    virtual bool answers_on(int /*channel*/) const { return true; }
    // The chip select of the exchanges that follow.
    virtual void select(int /*channel*/) {}
    // Host CPU time the last exchange cost outside this process (a board
    // process), for the cost the log reports.
    virtual std::int64_t remote_cpu_ns() const { return 0; }
    // What the board shows on D5 and D6 now (0..255: a level or a PWM duty),
    // for a trace; false for a peer without such outputs.
    virtual bool outputs(int & /*d5*/, int & /*d6*/) const { return false; }
};

std::unique_ptr<Peer> make_script_peer(const char *replies);
std::unique_ptr<Peer> make_model_peer();
std::unique_ptr<Peer> make_loopback_peer();

} // namespace wpisim
