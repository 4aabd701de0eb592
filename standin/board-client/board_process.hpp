// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "board_kind.hpp"

#include <cstdint>
#include <string>

namespace wpisim
{

// A socket connected to the board process of this state directory, or -1
// when none runs. pid, if given, receives the board process's, as the
// kernel tells it. Another user's socket or process ends the run.
int find_board_process(std::int32_t *pid = nullptr);

// The same, starting a board process with this firmware when none runs.
// Exactly one of the runs that find none starts it: the one that takes the
// lock; the others wait for its socket. Ends the run when it cannot start.
// name: the bench's first board's, which it starts with.
int connect_board_process(const std::string &firmware, const BoardKind &kind,
                          const std::string &name, bool *started, std::int32_t *pid);

// Where no board process runs, removes what a killed one left that would
// mislead: the link to its terminal.
void forget_dead_board();

} // namespace wpisim
