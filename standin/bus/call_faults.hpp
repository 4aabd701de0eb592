// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

namespace wpisim
{

// Failures a test asks for through the environment. Each returns the errno to
// fail with, or 0 to go ahead.
//   WPISIM_FAIL_SPI_SETUP=ERRNO       wiringPiSPISetup fails
//   WPISIM_FAIL_GPIO_SETUP=ERRNO      wiringPiSetup fails
//   WPISIM_FAIL_TRANSFER=N[:ERRNO]    the Nth transfer of the process fails (EIO by default)
// ERRNO is a name such as EACCES or a number. A set-up variable that is 0 asks
// for no fault; a malformed value ends the program with a stand-in error.
int spi_setup_fault();
int gpio_setup_fault();
// Number 0 is no transfer: asking for it reads and checks the setting early.
int transfer_fault(long transfer_number);
//   WPISIM_INTERRUPT_AT=N             Ctrl-C as the Nth transfer is about to start
// True when this transfer is the one; 0 checks the setting.
bool interrupt_at(long transfer_number);

} // namespace wpisim
