// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// What `wpisim run` checks: steps in order, each with its time limit, and
// what must or must not show on the program's output and the boards' serial
// ports over the whole run. From a scenario file, a TOML one, and options.

#include <cstdint>
#include <string>
#include <vector>

namespace wpisim
{

enum class StepKind {
    output,      // wait for text on the program's output
    type,        // type text to the program
    serial,      // wait for text on a board's serial port
    send_serial, // type text on a board's serial port
    drive,       // drive a Pi input from outside: high, low or float
    pin,         // expect a Pi pin's level
    pwm,         // expect a Pi pin's PWM duty
    wait,        // let simulated time pass
    exit,        // wait for the program to end, with a status
};

struct Step {
    StepKind kind = StepKind::wait;
    int line = 0; // in the scenario file; 0 for an option
    std::string text;
    std::string board; // a board's name; empty: the bench's first
    int gpio = -1;
    int level = -1;         // drive: 0 low, 1 high, 2 float; pin: 0 or 1
    double duty = 0;        // percent
    double tolerance = 0.5; // percentage points
    double hz = 0;          // a PWM's frequency, if given; within 1 %
    std::int64_t ns = 0;    // a wait's length, else the time limit
    int status = 0;         // exit
};

struct SerialText {
    std::string board;
    std::string text;
};

constexpr std::int64_t default_within_ns = 1000000000;
constexpr std::int64_t default_timeout_ns = std::int64_t{60} * 1000000000;

struct Scenario {
    std::string file; // empty when only options say what to check
    std::int64_t timeout_ns = default_timeout_ns;
    int status = 0; // the program's, when it ends by itself
    std::vector<Step> steps;
    std::vector<std::string> expect, forbid;
    std::vector<SerialText> expect_serial, forbid_serial;
};

// Reads a scenario file into s; the errors, each as "FILE:LINE: what".
std::vector<std::string> read_scenario(const std::string &path, Scenario &s);

// "2s", "500ms", "1.5s", "250us", "100ns", "3min": the nanoseconds, or -1.
std::int64_t duration_ns(const std::string &text);

// "1.5 s", "500 ms", "20 us": for messages and the report.
std::string duration_text(std::int64_t ns);

// What a step does, in a line of the report: `output "out0 -> a/b ?"`.
std::string step_text(const Step &s);

} // namespace wpisim
