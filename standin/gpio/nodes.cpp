// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "nodes.hpp"

#include "pi_session.hpp"
#include "this_pi.hpp"

#include <wiringPi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

// The list the library exports, newest first, as a program may walk it.
extern "C" {
struct wiringPiNodeStruct *wiringPiNodes = nullptr;
}

namespace wpisim::gpio
{

namespace
{

// What a node does with a call its driver leaves out: nothing.
void no_mode(wiringPiNodeStruct * /*node*/, int /*pin*/, int /*mode*/) {}
int no_read(wiringPiNodeStruct * /*node*/, int /*pin*/)
{
    return LOW;
}
int no_analog_read(wiringPiNodeStruct * /*node*/, int /*pin*/)
{
    return 0;
}

} // namespace

wiringPiNodeStruct *find_node(int pin)
{
    for (wiringPiNodeStruct *node = wiringPiNodes; node != nullptr; node = node->next)
        if (pin >= node->pinBase && pin <= node->pinMax)
            return node;
    return nullptr;
}

wiringPiNodeStruct *new_node(int base, int count)
{
    if (base < 64)
        pi::library_failure(WPI_FATAL, "wiringPiNewNode: pinBase of %d is < 64\n", base);
    for (int pin = base; pin < base + count; ++pin)
        if (find_node(pin) != nullptr)
            pi::library_failure(WPI_FATAL,
                                "wiringPiNewNode: Pin %d overlaps with existing definition\n", pin);
    // The program may free it, as with the library's calloc.
    auto *node = static_cast<wiringPiNodeStruct *>(std::calloc(1, sizeof(wiringPiNodeStruct)));
    if (node == nullptr) {
        // A fatal failure ends the program; the return is for the analyzer.
        pi::library_failure(WPI_FATAL, "wiringPiNewNode: Unable to allocate memory: %s\n",
                            std::strerror(errno));
        return nullptr;
    }
    node->pinBase = base;
    node->pinMax = base + count - 1;
    node->pinMode = no_mode;
    node->pullUpDnControl = no_mode;
    node->digitalRead = no_read;
    node->digitalWrite = no_mode;
    node->pwmWrite = no_mode;
    node->analogRead = no_analog_read;
    node->analogWrite = no_mode;
    node->next = wiringPiNodes;
    wiringPiNodes = node;
    return node;
}

} // namespace wpisim::gpio
