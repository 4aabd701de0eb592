// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>

namespace wpisim
{

// Where the stand-in's state outlives a process: the pins' files and the
// simulated board's socket. WPISIM_STATE_DIR, else $XDG_STATE_HOME/wpisim,
// else ~/.local/state/wpisim, else a private ${TMPDIR:-/tmp}/wpisim-<uid>.
// Made and checked on first use; one that cannot be used ends the process
// with the stand-in's own error.
std::string prepared_state_dir();

} // namespace wpisim
