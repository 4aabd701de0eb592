// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <sim_avr.h>

namespace wpisim
{

// simavr checks some of the AVR's memory accesses only after making them: a
// store past the end of RAM, a stack pointer set anywhere in the 64 KiB data
// space or a jump past the end of flash reaches host memory beyond its
// buffers. With buffers that span the whole address space, such firmware only
// crashes the simulated AVR. Call it right after avr_init.
void widen_memory(avr_t *avr);

} // namespace wpisim
