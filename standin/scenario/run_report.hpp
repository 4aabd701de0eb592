// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// What a checked run found, step by step, and its JUnit XML form, which CI
// systems read.

#include <cstdint>
#include <string>
#include <vector>

namespace wpisim
{

enum class CheckOutcome { passed, failed, timed_out, bench_error, skipped };

struct CheckResult {
    std::string name; // `step 2 (parley.toml:7): output "out1 -> c/d ?"`
    CheckOutcome outcome = CheckOutcome::skipped;
    std::string message; // why it did not pass
    std::int64_t ns = 0; // how long it took, on the run's clock
};

struct RunReport {
    std::string suite; // the scenario's or the program's name
    std::vector<CheckResult> checks;
    std::int64_t ns = 0; // the run's length on its clock
    std::string output;  // the program's
};

// The report as JUnit XML: one test suite, a test case per check. Nothing
// in it comes from the wall clock or the machine, so it is the same on
// every run of a virtual-time scenario.
std::string junit_xml(const RunReport &r);

} // namespace wpisim
