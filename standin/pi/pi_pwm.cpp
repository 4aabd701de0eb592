// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pi_pwm.hpp"

#include <algorithm>

namespace wpisim::pi
{

namespace
{

// getAlt's function-select codes.
constexpr int alt0 = 4;
constexpr int alt3 = 7;
constexpr int alt5 = 2;

constexpr int divisor_max = 0xfff;
constexpr int osc_default = 192; // the sources in 100 kHz, as 3.14 scales by them
constexpr int osc_bcm2711 = 540;
constexpr int osc_bcm2712 = 500;
constexpr int pi4b = 17;
constexpr int pi400 = 19;
constexpr int cm4 = 20;
constexpr int cm4s = 21;

bool bcm2711(const Model &m)
{
    return m.id.model == pi4b || m.id.model == pi400 || m.id.model == cm4 || m.id.model == cm4s;
}

struct PwmGpio {
    int bcm;
    int channel; // -1: 3.14 gives the function, but the GPIO has no channel
    int alt;
};

constexpr PwmGpio bcm_pwm[] = {{12, 0, alt0}, {13, 1, alt0}, {18, 0, alt5}, {19, 1, alt5},
                               {40, 0, alt0}, {41, 1, alt0}, {45, 1, alt0}};
constexpr PwmGpio rp1_pwm[] = {{12, 0, alt0},  {13, 1, alt0},  {18, 2, alt3}, {19, 3, alt3},
                               {40, -1, alt0}, {41, -1, alt0}, {45, -1, alt0}};

const PwmGpio *find(const Model &m, int bcm)
{
    for (const PwmGpio &p : m.rp1 ? rp1_pwm : bcm_pwm)
        if (p.bcm == bcm)
            return &p;
    return nullptr;
}

} // namespace

std::optional<PwmPin> pwm_pin(const Model &m, int bcm)
{
    const PwmGpio *p = find(m, bcm);
    if (p == nullptr || p->channel < 0)
        return std::nullopt;
    return PwmPin{p->channel, p->alt};
}

int pwm_write_target(const Model &m, int bcm)
{
    const PwmGpio *p = find(m, bcm);
    if (p != nullptr && p->channel >= 0)
        return p->channel;
    if (m.rp1)
        return p != nullptr ? pwm_no_channel : 0;
    return pwm_control_register;
}

int pwm_clock_divider(const Model &m, int divisor, int current)
{
    divisor = std::min(divisor, divisor_max);
    if (m.rp1)
        return divisor < 1 ? 0 : osc_bcm2712 * divisor / osc_default;
    if (bcm2711(m))
        divisor = osc_bcm2711 * divisor / osc_default;
    divisor = std::max(divisor, 1);
    // 3.14 writes password 0x5a in bits 24-31 | divisor << 12.
    const unsigned high = static_cast<unsigned>(divisor) >> 12;
    if ((high & ~0x5aU) != 0)
        return current;
    return divisor & divisor_max;
}

double pwm_source_hz(const Model &m)
{
    if (m.rp1)
        return osc_bcm2712 * 100e3;
    return (bcm2711(m) ? osc_bcm2711 : osc_default) * 100e3;
}

double pwm_frequency_hz(const Model &m, int divider, unsigned range, int mode, int value)
{
    if (divider <= 0 || range == 0)
        return 0;
    const double tick_hz = pwm_source_hz(m) / divider;
    if (mode == 0 || m.rp1)
        return tick_hz / range;
    const long long high = std::clamp<long long>(value, 0, range);
    const long long rarer = std::min<long long>(high, range - high);
    return tick_hz * static_cast<double>(rarer) / range;
}

} // namespace wpisim::pi
