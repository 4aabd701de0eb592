// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "sandbox.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#ifndef PROGRAM_DIR
#error "PROGRAM_DIR must name the folder of the built programs; PROGRAM_LAUNCHER, its emulator"
#endif

namespace harness
{

Sandbox::Sandbox() : Sandbox(PROGRAM_DIR) {}

Sandbox::Sandbox(std::string program_dir) : program_dir_(std::move(program_dir))
{
    std::string pattern = (std::filesystem::temp_directory_path() / "parley-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a sandbox directory");
    dir_ = pattern;
}

Sandbox::~Sandbox()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> Sandbox::command(const std::string &name) const
{
    std::vector<std::string> words{PROGRAM_LAUNCHER};
    words.push_back(program_dir_ + "/" + name);
    return words;
}

bool Sandbox::emulated()
{
    const std::vector<std::string> launcher{PROGRAM_LAUNCHER};
    // Empty on a native build, so always false there; a cross build's is qemu.
    // cppcheck-suppress knownConditionTrueFalse
    return !launcher.empty();
}

ProgramRun Sandbox::program(const std::string &name) const
{
    // The stand-in's settings come only from here, never from the caller's shell.
    ProgramRun run(command(name));
    run.without_env("WPISIM_").env("WPISIM_LOG", log_path()).env("WPISIM_STATE_DIR", state_dir());
    return run;
}

std::vector<Call> Sandbox::calls() const
{
    return read_call_log(log_path());
}

std::string Sandbox::pin_state(int pin) const
{
    std::string state;
    for (const char *what : {"mode", "level"}) {
        std::ifstream file(state_dir() + "/pin" + std::to_string(pin) + "." + what);
        std::string word;
        if (!std::getline(file, word))
            word = "-";
        state += state.empty() ? word : " " + word;
    }
    return state;
}

void Sandbox::set_pin_state(int pin, const std::string &mode, const std::string &level) const
{
    std::filesystem::create_directories(state_dir());
    const std::string base = state_dir() + "/pin" + std::to_string(pin);
    std::ofstream(base + ".mode") << mode << "\n";
    std::ofstream(base + ".level") << level << "\n";
}

} // namespace harness
