// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <string>

namespace wpisim
{

// Opens path, relative to dir (AT_FDCWD for the working directory), without
// blocking in open, so a FIFO put where a file belongs hangs nobody; the
// descriptor then blocks as usual. -1 and errno when it cannot: ENXIO for a
// FIFO opened for writing that nobody reads.
int open_unblocked(int dir, const std::string &path, int flags, unsigned mode = 0600);

// Why open_unblocked failed, in words.
std::string open_error(int error);

// Empty when fd is a regular file of this user's own, else why not.
std::string own_file_problem(int fd);

} // namespace wpisim
