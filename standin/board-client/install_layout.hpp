// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// Where the board program and the reference firmware are: decided by where
// the running module (the stand-in library or wpisim) lies, so a build tree
// uses its own files and an installed or extracted package its own.

#include <string>
#include <vector>

namespace wpisim
{

struct BoardFiles {
    std::string program;  // empty: this build has no simulated board
    std::string firmware; // the reference firmware
    // A cross build's emulator, to start the program through: always in the
    // build tree; installed, only where this machine cannot run it itself.
    std::vector<std::string> launcher;
    bool launcher_always = false;
};

const BoardFiles &board_files();

} // namespace wpisim
