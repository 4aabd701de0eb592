#pragma once

#include "call_log.hpp"
#include "program_run.hpp"

#include <string>

namespace harness
{

// A private corner for one test: its own call log and GPIO state directory,
// removed afterwards.
class Sandbox
{
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // A run of a built program ("parley", "allumer", "eteindre") wired to this sandbox.
    ProgramRun program(const std::string &name) const;
    std::vector<Call> calls() const;
    // The pin's mode and level as "mode level", e.g. "output high"; "-" for
    // what was never written.
    std::string pin_state(int pin) const;
    void set_pin_state(int pin, const std::string &mode, const std::string &level) const;

    const std::string &dir() const { return dir_; }
    std::string log_path() const { return dir_ + "/calls.log"; }
    std::string state_dir() const { return dir_ + "/gpio"; }

  private:
    std::string dir_;
};

// The reply line parley writes for a pair of received bytes.
std::string reply(const std::string &two_bytes);

// WPISIM_REPLIES for the given replies, one per transfer, e.g. {"w0", "i3"}.
std::string script(const std::vector<std::string> &replies);

// The two prompts, as parley writes them.
extern const char *const prompts;

} // namespace harness
