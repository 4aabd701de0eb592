// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>

namespace wpisim
{

// Monotonic time is shared by all processes on the machine, so the log's
// timestamps from parley and from the test that reads them compare directly.
std::int64_t now_ns();

// CPU time this thread has used.
std::int64_t thread_cpu_ns();

// Sleeps until an absolute monotonic time, resuming after signals.
void sleep_until_ns(std::int64_t deadline);

} // namespace wpisim
