// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

namespace wpisim
{

// At a GPIO set-up that succeeded: a bench that wires the Pi's GPIO to the
// board starts or finds the board and wires it; one that wires nothing
// leaves the board alone, as it always has.
void wire_run_to_board();

} // namespace wpisim
