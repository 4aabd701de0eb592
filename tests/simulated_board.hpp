// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// What the tests of the simulated board need to know of this build.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>

// The firmware ELF this build made, from the firmware target; empty without one.
constexpr const char *built_firmware_elf = BOARD_FIRMWARE_ELF;

#if !HAS_SIMULATED_BOARD
#define REQUIRE_BOARD()                                                                            \
    GTEST_SKIP() << "the simulated board is not built (needs simavr and gcc-avr)"
#else
#define REQUIRE_BOARD() (void)0
#endif

// A run on its sandbox's virtual clock: nothing sleeps, and the board answers
// the same, at the same simulated times, on any machine at any load.
inline harness::ProgramRun virtual_run(const harness::Sandbox &box, const std::string &name)
{
    return box.program(name).env("WPISIM_TIME", "virtual");
}

// The board process the sandbox's last run used, from its log; 0 if none.
inline pid_t board_pid(const harness::Sandbox &box)
{
    const auto links = harness::only(box.calls(), "board-link");
    return links.empty() ? 0 : static_cast<pid_t>(links.back().num("board_pid"));
}
