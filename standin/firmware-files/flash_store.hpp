// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// What was flashed to the board stays there, as on a real one, until it is
// flashed again: a copy of the file, with the kind of board and when, in the
// state directory's "flash" (a link to the folder of the latest flash, swapped
// in one rename, so a reader sees the old flash or the new, never half).
// Flashes take turns on flash.lock; a run holds its flash's folder while it
// starts the board on it, and the next flash removes only folders no run holds.

#include "board_kind.hpp"

#include <memory>
#include <optional>
#include <string>

namespace wpisim
{

struct Flashed {
    std::string image; // the copy the board runs
    const BoardKind *kind = nullptr;
    std::string name;                // the file flashed, as the user named it
    std::string flashed;             // when, as the local time
    std::shared_ptr<const int> hold; // keeps the image until the last copy goes
};

// The latest flash of the board named (empty: the bench's first), if any. A
// flash link, folder or file that is not this user's, or not as a flash
// leaves it, ends the process with the reason.
std::optional<Flashed> flashed(const std::string &board = "");

// Keeps content, already checked for the kind, as the board's flash. Empty,
// or why it could not.
std::string store_flash(const std::string &content, const BoardKind &kind, const std::string &name,
                        const std::string &board = "");

} // namespace wpisim
