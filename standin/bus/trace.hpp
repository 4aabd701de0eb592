// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "peer.hpp"

#include <memory>

namespace wpisim
{

// The bus as a logic analyzer on the Pi's header records it, written to the
// file WPISIM_TRACE names as a VCD: SCLK, MOSI, MISO, CE0 and CE1 bit by bit
// in each transfer's SPI mode, and the board's D5 and D6.
class Trace
{
  public:
    Trace() = default;
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;
    virtual ~Trace() = default;
    // Told of each transfer once it is over: t.data holds the bytes the Pi
    // read, sent those it sent.
    virtual void transfer(const Transfer &t, const unsigned char *sent, const Outcome &o) = 0;
};

// Null without WPISIM_TRACE. A file that cannot be written, or that another
// run is tracing to, ends the process, status 2.
std::unique_ptr<Trace> open_trace();

} // namespace wpisim
