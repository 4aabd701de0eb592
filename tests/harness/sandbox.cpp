#include "sandbox.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#ifndef PROGRAM_DIR
#error "PROGRAM_DIR must name the folder that holds the built programs"
#endif

namespace harness
{

const char *const prompts = "out0 -> a/b ?\nout1 -> c/d ?\n";

std::string reply(const std::string &two_bytes)
{
    return reply_tag + two_bytes + "\n";
}

std::string script(const std::vector<std::string> &replies)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::string &r : replies) {
        if (!text.empty())
            text += ' ';
        for (const char c : r) {
            const auto b = static_cast<unsigned char>(c);
            text += digits[b >> 4];
            text += digits[b & 0xf];
        }
    }
    return text;
}

Sandbox::Sandbox()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "parley-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a sandbox directory");
    dir_ = pattern;
}

Sandbox::~Sandbox()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

ProgramRun Sandbox::program(const std::string &name) const
{
    ProgramRun run(std::string(PROGRAM_DIR) + "/" + name);
    run.env("WPISIM_LOG", log_path()).env("WPISIM_STATE_DIR", state_dir());
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
