// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "sandbox.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

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

namespace
{

// wiringPi's pins 0 to 7 on the Pis the tests default to.
int bcm_of_wpi(int pin)
{
    static const int bcm[] = {17, 18, 27, 22, 23, 24, 25, 4};
    return pin >= 0 && pin < 8 ? bcm[pin] : -1;
}

} // namespace

ProgramRun Sandbox::script(const std::string &text) const
{
    auto words = [this](const std::string &program) {
        std::string joined;
        for (const std::string &w : command(program))
            joined += (joined.empty() ? "" : " ") + w;
        return joined;
    };
    const std::string shell_eventually = "eventually() { n=0; until \"$@\"; do n=$((n+1)); "
                                         "[ $n -lt 1200 ] || return 1; sleep 0.05; done; }\n";
    return ProgramRun({"/bin/sh", "-c", "cd \"$BOX\" || exit 99\n" + shell_eventually + text})
        .without_env("WPISIM_")
        .env("BOX", dir_)
        .env("WPISIM_STATE_DIR", dir_ + "/st")
        .env("WPISIM", words("wpisim"))
        .env("PROBE", words("library_probe"))
        .env("BOARD_PROBE", words("board_probe"))
        .env("PARLEY", words("parley"))
        .env("RUN", emulator())
        .env("BIN", program_dir_);
}

std::string Sandbox::emulator() const
{
    std::vector<std::string> words = command("wpisim");
    words.pop_back();
    std::string joined;
    for (const std::string &w : words)
        joined += (joined.empty() ? "" : " ") + w;
    return joined;
}

std::string Sandbox::pin_state(int pin) const
{
    // As a user sees it: wpisim pins, the row of this wiringPi pin.
    const Outcome r = program("wpisim").args({"pins"}).env("WPISIM_LOG", "").run();
    std::istringstream rows(r.out);
    std::string row;
    while (std::getline(rows, row)) {
        std::vector<std::string> cells;
        std::istringstream split(row);
        for (std::string cell; std::getline(split, cell, '|');)
            cells.push_back(cell.substr(cell.find_first_not_of(' ') == std::string::npos
                                            ? cell.size()
                                            : cell.find_first_not_of(' ')));
        for (std::string &cell : cells)
            cell.erase(cell.find_last_not_of(' ') + 1);
        if (cells.size() > 5 && cells[2] == std::to_string(pin)) {
            const std::string mode = cells[4] == "OUT"  ? "output"
                                     : cells[4] == "IN" ? "input"
                                                        : cells[4];
            return mode + (cells[5] == "1" ? " high" : " low");
        }
    }
    return "no row for wiringPi pin " + std::to_string(pin) + " in: " + r.out + r.err;
}

void Sandbox::set_pin_state(int pin, const std::string &mode, const std::string &level) const
{
    // An input held at a level from outside, as a button would; or an output
    // a program left at it.
    const std::string wpi = std::to_string(pin);
    const bool output = mode == "output";
    program("library_probe")
        .args({"gpio-setup", "mode", wpi, output ? "1" : "0", "write", wpi,
               level == "high" ? "1" : "0"})
        .env("WPISIM_LOG", "")
        .run();
    if (!output)
        program("wpisim")
            .args({"pin", std::to_string(bcm_of_wpi(pin)), level == "high" ? "high" : "low"})
            .env("WPISIM_LOG", "")
            .run();
}

} // namespace harness
