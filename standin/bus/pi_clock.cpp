// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors

// The SPI clock a Pi really makes. Its driver divides the core clock by an
// even divider it works out once, for the fastest (turbo) core clock, so the
// bus is never faster than asked at full load; the clock on the wire then
// follows the live core clock, which drops when the Pi is idle.

#include "pi_clock.hpp"

#include "diagnostic.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace wpisim
{

namespace
{

struct Model {
    const char *name;
    int loaded_mhz; // core clock under load: the one the divider is worked out for
    int idle_mhz;
    long max_divider;
};

// The Pi 5's SPI sits in its RP1 chip, on a fixed 200 MHz clock.
const Model models[] = {
    {"pi1", 250, 250, 65536},  {"pi2", 250, 250, 65536},    {"pi3", 400, 250, 65536},
    {"zero", 400, 250, 65536}, {"zero2w", 400, 250, 65536}, {"pi4", 500, 200, 65536},
    {"pi5", 200, 200, 65534},
};

[[noreturn]] void bad(const char *variable, const char *value, const char *why)
{
    fail(std::string(variable) + "=" + value, why);
}

struct Setting {
    const Model *model = nullptr;
    double sclk_hz = 0; // WPISIM_SCLK, 0 when unset
    std::string pattern = "l";
    bool seeded = false;
    unsigned long long seed = 0;
};

const Model *find_model(const char *name)
{
    for (const Model &m : models)
        if (std::strcmp(name, m.name) == 0)
            return &m;
    bad("WPISIM_PI", name, "not a Pi model (pi1, pi2, pi3, zero, zero2w, pi4, pi5)");
}

Setting read_setting()
{
    Setting s;
    if (const char *pi = std::getenv("WPISIM_PI"); pi != nullptr && *pi != '\0')
        s.model = find_model(pi);
    if (const char *sclk = std::getenv("WPISIM_SCLK"); sclk != nullptr && *sclk != '\0') {
        char *end = nullptr;
        s.sclk_hz = std::strtod(sclk, &end);
        if (end == sclk || *end != '\0' || !(s.sclk_hz >= 1 && s.sclk_hz <= 125e6))
            bad("WPISIM_SCLK", sclk, "not a clock in Hz (1 to 125000000)");
    }
    const char *core = std::getenv("WPISIM_CORE");
    if (core == nullptr || *core == '\0')
        return s;
    if (std::strncmp(core, "seed:", 5) == 0) {
        char *end = nullptr;
        s.seed = std::strtoull(core + 5, &end, 10);
        if (end == core + 5 || *end != '\0')
            bad("WPISIM_CORE", core, "seed:N wants a number");
        s.seeded = true;
        return s;
    }
    if (std::strspn(core, "li") != std::strlen(core))
        bad("WPISIM_CORE", core, "not a pattern of l (loaded) and i (idle), nor seed:N");
    s.pattern = core;
    return s;
}

const Setting &setting()
{
    static const Setting s = read_setting();
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

bool loaded(const Setting &s, long transfer_number)
{
    if (s.seeded)
        return loaded_by_seed(s.seed, transfer_number);
    const auto at = static_cast<std::size_t>(transfer_number - 1) % s.pattern.size();
    return s.pattern[at] == 'l';
}

// As the Pi's driver rounds: the smallest even divider that is not faster
// than asked, at most the hardware's largest.
long divider(const Model &m, int requested_hz)
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
    const Setting &s = setting();
    if (s.sclk_hz > 0)
        return {s.sclk_hz, bit_ns(s.sclk_hz), 0};
    if (s.model == nullptr)
        return {static_cast<double>(requested_hz), bit_ns(requested_hz), 0};
    const Model &m = *s.model;
    const int core_mhz = loaded(s, transfer_number) ? m.loaded_mhz : m.idle_mhz;
    const double hz = core_mhz * 1e6 / static_cast<double>(divider(m, requested_hz));
    return {hz, bit_ns(hz), core_mhz};
}

} // namespace wpisim
