// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "call_log.hpp"
#include "program_run.hpp"

#include <string>

namespace harness
{

// A private corner for the built programs' runs: their own call log and GPIO
// state directory, and none of the caller's WPISIM_ settings; removed afterwards.
class Sandbox
{
  public:
    // For the programs of this build.
    Sandbox();
    // For the programs in this folder.
    explicit Sandbox(std::string program_dir);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // A run of a built program ("parley", "allumer", "eteindre") wired to this sandbox.
    ProgramRun program(const std::string &name) const;
    // The words that start a built program: a cross build's emulator first.
    std::vector<std::string> command(const std::string &name) const;
    std::vector<Call> calls() const;
    // A shell script run in the sandbox's folder as a user at a terminal runs
    // it: none of the caller's WPISIM_ settings, the state directory st there,
    // and the built programs in $WPISIM, $PROBE, $BOARD_PROBE and $PARLEY.
    // `eventually COMMAND...` runs the command until it succeeds, a minute
    // at most, for what another process gets to in its own time.
    ProgramRun script(const std::string &text) const;
    // Whether the programs run under an emulator (a cross build's qemu-user).
    static bool emulated();
    // The pin's mode and level as "mode level", e.g. "output high"; "-" for
    // what was never written.
    std::string pin_state(int pin) const;
    void set_pin_state(int pin, const std::string &mode, const std::string &level) const;

    const std::string &dir() const { return dir_; }
    std::string log_path() const { return dir_ + "/calls.log"; }
    std::string state_dir() const { return dir_ + "/gpio"; }

  private:
    std::string emulator() const;

    std::string program_dir_;
    std::string dir_;
};

} // namespace harness
