// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pi_pins.hpp"

#include <array>

namespace wpisim::pi
{

namespace
{

using Table = std::array<int, 64>;

constexpr Table filled(std::initializer_list<int> head, int rest)
{
    Table t{};
    std::size_t i = 0;
    for (const int v : head)
        t.at(i++) = v;
    for (; i < t.size(); ++i)
        t.at(i) = rest;
    return t;
}

// wiringPi pins 0-16 on the first boards; 17-20 reach the P5 connector and
// 21-31 the 40-pin header's GPIOs on the others.
constexpr Table wpi_layout1 =
    filled({17, 18, 21, 22, 23, 24, 25, 4, 0, 1, 8, 7, 10, 9, 11, 14, 15}, no_gpio);
constexpr Table wpi_layout2 =
    filled({17, 18, 27, 22, 23, 24, 25, 4,  2,  3,  8,  7,  10, 9,  11, 14,
            15, 28, 29, 30, 31, 5,  6,  13, 19, 26, 12, 16, 20, 21, 0,  1},
           no_gpio);

constexpr Table phys_layout1 = filled({-1, -1, -1, 0,  -1, 1,  -1, 4, 14, -1, 15, 17, 18, 21,
                                       -1, 22, 23, -1, 24, 10, -1, 9, 25, 11, 8,  -1, 7},
                                      no_gpio);
// Entries 41-62 are the P5 connector's; 3.14 leaves the last one out, so it is 0.
constexpr Table phys_layout2 =
    filled({-1, -1, -1, 2,  -1, 3,  -1, 4,  14, -1, 15, 17, 18, 27, -1, 22, 23, -1, 24, 10, -1,
            9,  25, 11, 8,  -1, 7,  0,  1,  5,  -1, 6,  12, 13, -1, 19, 16, 26, 20, -1, 21, -1,
            -1, -1, -1, -1, -1, -1, -1, -1, -1, 28, 29, 30, 31, -1, -1, -1, -1, -1, -1, -1, -1},
           0);

// `gpio readall`'s names, pin 1 first.
constexpr std::array<const char *, 40> pin_names = {
    "3.3v",    "5v",      "SDA.1",   "5v",      "SCL.1",   "0v",      "GPIO. 7", "TxD",
    "0v",      "RxD",     "GPIO. 0", "GPIO. 1", "GPIO. 2", "0v",      "GPIO. 3", "GPIO. 4",
    "3.3v",    "GPIO. 5", "MOSI",    "0v",      "MISO",    "GPIO. 6", "SCLK",    "CE0",
    "0v",      "CE1",     "SDA.0",   "SCL.0",   "GPIO.21", "0v",      "GPIO.22", "GPIO.26",
    "GPIO.23", "0v",      "GPIO.24", "GPIO.27", "GPIO.25", "GPIO.28", "0v",      "GPIO.29",
};

const Table &wpi_table(int layout)
{
    return layout == 1 ? wpi_layout1 : wpi_layout2;
}

const Table &phys_table(int layout)
{
    return layout == 1 ? phys_layout1 : phys_layout2;
}

std::vector<HeaderPin> make_header(int layout, int pins)
{
    std::vector<HeaderPin> h;
    for (int p = 1; p <= pins; ++p) {
        const int bcm = phys_to_bcm(layout, p);
        h.push_back({p, pin_names.at(static_cast<std::size_t>(p - 1)), bcm,
                     bcm == no_gpio ? no_gpio : bcm_to_wpi(layout, bcm)});
    }
    return h;
}

} // namespace

int wpi_to_bcm(int layout, int wpi)
{
    return wpi < 0 || wpi > 63 ? no_gpio : wpi_table(layout).at(static_cast<std::size_t>(wpi));
}

int phys_to_bcm(int layout, int phys)
{
    return phys < 0 || phys > 63 ? no_gpio : phys_table(layout).at(static_cast<std::size_t>(phys));
}

int bcm_to_wpi(int layout, int bcm)
{
    const Table &t = wpi_table(layout);
    for (std::size_t wpi = 0; wpi < t.size(); ++wpi)
        if (bcm >= 0 && t.at(wpi) == bcm)
            return static_cast<int>(wpi);
    return no_gpio;
}

const std::vector<HeaderPin> &header(const Model &m)
{
    // Never destroyed: an interrupt's thread may still read them as the
    // program exits.
    static const std::vector<HeaderPin> &rev1 = *new std::vector<HeaderPin>(make_header(1, 26));
    static const std::vector<HeaderPin> &rev2_26 = *new std::vector<HeaderPin>(make_header(2, 26));
    static const std::vector<HeaderPin> &rev2_40 = *new std::vector<HeaderPin>(make_header(2, 40));
    if (m.layout == 1)
        return rev1;
    return m.forty_pins ? rev2_40 : rev2_26;
}

int bcm_to_phys(const Model &m, int bcm)
{
    for (const HeaderPin &p : header(m))
        if (bcm >= 0 && p.bcm == bcm)
            return p.physical;
    return no_gpio;
}

Pull power_on_pull(const Model &m, int bcm)
{
    if (bcm_to_phys(m, bcm) == no_gpio)
        return Pull::none;
    return bcm <= 8 ? Pull::up : Pull::down;
}

bool board_pull_up(const Model &m, int bcm)
{
    const int phys = bcm_to_phys(m, bcm);
    return phys == 3 || phys == 5;
}

} // namespace wpisim::pi
