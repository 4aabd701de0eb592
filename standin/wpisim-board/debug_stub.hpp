// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <sim_avr.h>

#include <string>

namespace wpisim
{

// simavr's GDB stub for avr-gdb's remote protocol, listening on 127.0.0.1
// only: simavr's own binds every interface, and the stub writes wherever a
// client asks. port 0 takes any free one. Replaces a stub already open once
// the new port is bound. Returns the port, or -1 and why not.
int open_debug_stub(avr_t *avr, int port, std::string *why);

} // namespace wpisim
