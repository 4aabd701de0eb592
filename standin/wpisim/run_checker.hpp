// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// Runs a Pi program on a bench that is already set up (its state directory,
// bench file and settings in the environment) and checks a scenario against
// it, step by step.

#include "run_report.hpp"
#include "scenario.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace wpisim
{

// wpisim run's exit statuses.
enum RunStatus : int { run_passed = 0, run_failed = 1, run_timed_out = 2, run_bench_error = 3 };

struct RunPlan {
    Scenario scenario;
    std::vector<std::string> program; // the program and its arguments
    bool wall = false;                // on the wall clock, not the virtual one
    std::int64_t wall_limit_ns = 0;   // how long the run may take, whatever its clock
};

struct RunOutcome {
    int status = run_bench_error;
    std::string why; // a failure's one line, empty on a pass
    RunReport report;
    std::string errors; // the program's standard error
};

RunOutcome check_run(const RunPlan &plan);

// What a board of the bench (empty: the first) has sent on its serial port,
// from its serial log in the state directory.
std::string board_serial_output(const std::string &board);

// Ends the program of the run in progress, if one is: for a wpisim that is
// interrupted or fails on the way.
void end_checked_program();

} // namespace wpisim
