// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>
#include <vector>

namespace wpisim
{

// One SPI transfer as the Pi's header carried it.
struct Exchange {
    int channel = 0;
    int mode = 0;              // CPOL in bit 1, CPHA in bit 0
    std::int64_t start_ns = 0; // CE falls here, where it really ran
    std::int64_t bit_ns = 0;
    std::int64_t called_ns = 0; // when the program asked for it
    int len = 0;
    const unsigned char *sent = nullptr;
    const unsigned char *got = nullptr; // as the Pi read it
    bool has_outputs = false;           // the board's D5 and D6 as it ended, 0..255
    int d5 = 0;
    int d6 = 0;
};

// SCL and SDA from at_ns on, as an I2C transfer left them.
struct I2cLevel {
    std::int64_t at_ns = 0;
    int scl = 1;
    int sda = 1;
};

// A GPIO's level from some time on: steady, or (period_ns > 0) a square
// wave locked to the bench clock, high for the first high_ns of each period.
struct PinShape {
    double period_ns = 0;
    double high_ns = 0;
    int level = 0; // when steady

    static PinShape steady(int level) { return {0, 0, level}; }
    // A wave with no low or no high part is steady.
    static PinShape wave(double period_ns, double high_ns);
    bool waving() const { return period_ns > 0; }
    int level_at(std::int64_t ns) const;
    bool operator==(const PinShape &o) const
    {
        return period_ns == o.period_ns && high_ns == o.high_ns && level == o.level;
    }
};

// The run's lines as a logic analyzer on the Pi's header records them, written
// to the file WPISIM_TRACE names as a VCD: SCLK, MOSI, MISO, CE0 and CE1 bit by
// bit in each transfer's SPI mode, the I2C bus's SDA and SCL, the board's D5 and D6, and the GPIOs
// WPISIM_TRACE_PINS names. Safe to call from any thread.
class Trace
{
  public:
    Trace() = default;
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;
    virtual ~Trace() = default;

    // Told of each transfer once it is over.
    virtual void transfer(const Exchange &x) = 0;
    // An I2C transfer's changes of SCL and SDA, in time order; bit_ns: one SCL period.
    virtual void i2c(const std::vector<I2cLevel> &lines, std::int64_t bit_ns) = 0;

    // The GPIOs traced, in the order WPISIM_TRACE_PINS gives them.
    virtual const std::vector<int> &pins() const = 0;
    // An edge an outside drive made at its own time; a waving pin ignores it.
    virtual void edge(int gpio, std::int64_t at_ns, int level) = 0;
    // What the pin does from at_ns on.
    virtual void shape(int gpio, std::int64_t at_ns, const PinShape &s) = 0;
    // Writes what edge and shape gave since the last commit.
    virtual void commit() = 0;
    // The run ends at at_ns: every wave drawn up to it, and the time marked.
    virtual void finish(std::int64_t at_ns) = 0;
    // A write failed and the process is ending: nothing more is taken.
    virtual bool broken() const = 0;
};

// The run's trace, opened on the first call: null without WPISIM_TRACE. A file
// that cannot be written, or that another run is tracing to, ends the
// process, status 2, as does a WPISIM_TRACE_PINS refused.
Trace *run_trace();
// The same; a trace this opens has its time begin at origin_ns on the bench
// clock (the GPIO's epoch), however long opening it takes.
Trace *run_trace(std::int64_t origin_ns);

} // namespace wpisim
