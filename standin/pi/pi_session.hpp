// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdarg>
// What wiringPi 3.14 in this process has found out about the Pi so far. The
// library keeps it in statics that some calls read before any set-up, so the
// calls that fill them in must say so, where 3.14 does.

#include "pi_model.hpp"

namespace wpisim::pi
{

// piBoardId's reading of the board (piBoardId, piGpioLayout, piBoardRev,
// piBoard40Pin, wiringPiUserLevelAccess, wiringPiGlobalMemoryAccess, every
// set-up): the model, and from then on piRP1Model knows it.
const Model &detect_board();
bool board_detected();

// wiringPiSetup (so also wiringPiSetupGpio and wiringPiSetupPhys) and
// wiringPiSetupGpioDevice (so wiringPiSetupSys) choose the pin tables for the
// board's layout right after reading the board, before opening anything, and
// wiringPiSetupGpioDevice only once its GPIO chip has opened. Until then
// wpiPinToGpio and physPinToGpio read a table that is not there.
void install_pin_tables();
bool pin_tables_installed();

// wiringPiSetup and wiringPiSetupGpioDevice, on their first run, note
// whether WIRINGPI_CODES is in the environment (set to anything, even
// empty): from then on wiringPiFailure(WPI_ALMOST, ...) returns -1 instead
// of ending the program. Nothing ever unsets it.
void read_return_codes();
bool return_codes();

// wiringPiFailure: -1 for a failure that is not fatal under WIRINGPI_CODES;
// else the message on stderr and the program ends, as the library ends it.
int failure(int fatal, const char *message, std::va_list args);
// NOLINTNEXTLINE(cert-dcl50-cpp): formats as the library's messages do
int library_failure(int fatal, const char *message, ...);

} // namespace wpisim::pi
