// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors

// The SPI clock a Pi really makes. Its driver divides the core clock by an
// even divider it works out once, for the fastest (turbo) core clock, so the
// bus is never faster than asked at full load; the clock on the wire then
// follows the live core clock, which drops when the Pi is idle.

#include "pi_clock.hpp"

#include "diagnostic.hpp"
#include "message.hpp"
#include "pi_model.hpp"
#include "settings.hpp"

#include <climits>
#include <cmath>
#include <string>

namespace wpisim
{

namespace
{

struct CoreClock {
    int pi_model;   // PI_MODEL_*
    int loaded_mhz; // core clock under load: the one the divider is worked out for
    int idle_mhz;
    long max_divider;
};

// By the board piBoardId names: Model B and B+, Pi 2, 3 B, Zero, Zero 2 W,
// 4 B, 5. The Pi 5's SPI sits in its RP1 chip, on a fixed 200 MHz clock.
const CoreClock clocks[] = {
    {1, 250, 250, 65536}, {3, 250, 250, 65536},  {4, 250, 250, 65536},  {8, 400, 250, 65536},
    {9, 400, 250, 65536}, {18, 400, 250, 65536}, {17, 500, 200, 65536}, {23, 200, 200, 65534},
};

const CoreClock &core_clock(const pi::Model &m)
{
    for (const CoreClock &c : clocks)
        if (c.pi_model == m.id.model)
            return c;
    fail("WPISIM_PI=" + quoted(m.word), "no SPI clock known for this Pi");
}

struct ClockSetting {
    const CoreClock *model = nullptr;
    double sclk_hz = 0; // WPISIM_SCLK, 0 when unset
    std::string pattern = "l";
    bool seeded = false;
    unsigned long long seed = 0;
};

// The values were checked against the settings table as they were read.
ClockSetting read_setting()
{
    ClockSetting s;
    // Unset, the wire is ideal here, whatever Pi the rest of the stand-in plays.
    if (setting_text("WPISIM_PI"))
        s.model = &core_clock(pi::model());
    if (const auto sclk = setting_number("WPISIM_SCLK"))
        s.sclk_hz = static_cast<double>(*sclk);
    const auto core = setting_text("WPISIM_CORE");
    if (!core)
        return s;
    constexpr std::string_view seed = "seed:";
    if (core->compare(0, seed.size(), seed) == 0) {
        s.seed = *decimal(std::string_view(*core).substr(seed.size()), 0, ULLONG_MAX);
        s.seeded = true;
        return s;
    }
    s.pattern = *core;
    return s;
}

const ClockSetting &setting()
{
    static const ClockSetting s = read_setting();
    return s;
}

// splitmix64: the same seed gives the same clocks in every run.
bool loaded_by_seed(unsigned long long seed, long n)
{
    unsigned long long z = seed + static_cast<unsigned long long>(n) * 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return ((z ^ (z >> 31)) & 1) != 0;
}

bool loaded(const ClockSetting &s, long transfer_number)
{
    if (s.seeded)
        return loaded_by_seed(s.seed, transfer_number);
    const auto at = static_cast<std::size_t>(transfer_number - 1) % s.pattern.size();
    return s.pattern[at] == 'l';
}

// As the Pi's driver rounds: the smallest even divider that is not faster
// than asked, at most the hardware's largest.
long divider(const CoreClock &m, int requested_hz)
{
    const long long core_hz = m.loaded_mhz * 1000000LL;
    if (requested_hz >= core_hz / 2)
        return 2;
    long long d = (core_hz + requested_hz - 1) / requested_hz;
    d += d % 2;
    return d > m.max_divider ? m.max_divider : static_cast<long>(d);
}

std::int64_t bit_ns(double hz)
{
    return static_cast<std::int64_t>(std::llround(1e9 / hz));
}

} // namespace

WireClock wire_clock(int requested_hz, long transfer_number)
{
    const ClockSetting &s = setting();
    if (s.sclk_hz > 0)
        return {s.sclk_hz, bit_ns(s.sclk_hz), 0};
    if (s.model == nullptr)
        return {static_cast<double>(requested_hz), bit_ns(requested_hz), 0};
    const CoreClock &m = *s.model;
    const int core_mhz = loaded(s, transfer_number) ? m.loaded_mhz : m.idle_mhz;
    const double hz = core_mhz * 1e6 / static_cast<double>(divider(m, requested_hz));
    return {hz, bit_ns(hz), core_mhz};
}

} // namespace wpisim
