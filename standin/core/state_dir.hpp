// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>

namespace wpisim
{

// Where the stand-in's state outlives a process: the pins' files and the
// simulated board's socket. WPISIM_STATE_DIR, else $XDG_STATE_HOME/wpisim,
// else ~/.local/state/wpisim, else a private ${TMPDIR:-/tmp}/wpisim-<uid>.
std::string state_dir_path();

// The directory, made and checked on first use and opened once: every file
// in it is then reached relative to this descriptor, so swapping a path
// component for a link later changes nothing. One that cannot be used, or is
// not the user's own, ends the process with the stand-in's own error.
int state_dir_fd();

// Refuses a file in the state directory that another user owns: whoever made
// it could see or steer this user's runs. st_uid of the file, its name.
void require_own(unsigned file_uid, const std::string &name);

// Opens a file of the state directory, never through a link: -1 if there is
// none; any other failure, another user's file or one that is not a regular
// file ends the process with the stand-in's own error.
int open_own(const std::string &name, int flags, unsigned mode = 0600);

} // namespace wpisim
