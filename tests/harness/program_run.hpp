// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace harness
{

std::int64_t now_ns();

// Nanoseconds in a millisecond, for the times in outcomes and the call log.
constexpr std::int64_t ms = 1000000;

// Asks done() every few milliseconds until it says yes, for a minute at most:
// how long another process takes to get there depends on the machine's load.
bool eventually(const std::function<bool()> &done, std::int64_t limit_ms = 60000);

// What a finished program left behind.
struct Outcome {
    std::string out;
    std::string err;
    bool exited = false;
    int status = -1; // exit status when exited
    int signal = 0;  // terminating signal otherwise
    bool timed_out = false;
    std::int64_t start_ns = 0; // monotonic, comparable with the call log
    std::int64_t end_ns = 0;
    rusage usage{}; // the program's own, from its reaping

    // When standard output had reached each size, in order.
    struct Chunk {
        std::size_t end;
        std::int64_t ns;
    };
    std::vector<Chunk> out_chunks;
    // When the byte of standard output at this offset arrived; 0 if it never did.
    std::int64_t arrived_ns(std::size_t offset) const;
};

// A test on the standard output read so far.
using OutputTest = std::function<bool(const std::string &out)>;

// Runs a program as a user would: bytes on standard input, standard output and
// error captured, the environment given, exit awaited.
class ProgramRun
{
  public:
    // What to exec, its first word a path (no PATH lookup): a launcher's words, then the program.
    explicit ProgramRun(std::vector<std::string> command) : command_(std::move(command)) {}

    ProgramRun &input(std::string bytes) { return set(input_, std::move(bytes)); }
    ProgramRun &args(std::vector<std::string> args) { return set(args_, std::move(args)); }
    ProgramRun &env(const std::string &name, std::string value)
    {
        return set(env_[name], std::move(value));
    }
    // No variable whose name starts with this, inherited or given so far.
    ProgramRun &without_env(const std::string &prefix);
    // Standard output goes to this file instead of a pipe.
    ProgramRun &output_file(std::string path) { return set(output_file_, std::move(path)); }
    // Once the output read so far passes the test, sends the signal.
    ProgramRun &signal_when(OutputTest when, int sig)
    {
        return set(trigger_, {std::move(when), sig});
    }
    // Once the output read so far passes the test, closes the reading end.
    ProgramRun &close_output_when(OutputTest when) { return set(trigger_, {std::move(when), 0}); }
    // A limit for a hang, never a measure of speed: a loaded machine may run
    // the program many times slower than an idle one.
    ProgramRun &timeout_ms(int ms) { return set(timeout_ms_, ms); }
    // Standard input stays open after the bytes are fed, as at a terminal.
    ProgramRun &keep_input_open() { return set(keep_input_open_, true); }
    // The program starts with SIGPIPE ignored, as some launchers leave it.
    ProgramRun &ignore_sigpipe() { return set(ignore_sigpipe_, true); }

    Outcome run() const;

  private:
    template <class T> ProgramRun &set(T &field, T value)
    {
        field = std::move(value);
        return *this;
    }

    struct Trigger {
        OutputTest when;
        int signal = 0; // 0: close the output instead
    };

    std::vector<std::string> command_;
    std::vector<std::string> args_;
    std::string input_;
    std::vector<std::string> dropped_env_;
    std::map<std::string, std::string> env_;
    std::string output_file_;
    Trigger trigger_;
    bool keep_input_open_ = false;
    bool ignore_sigpipe_ = false;
    int timeout_ms_ = 60000;
};

} // namespace harness
