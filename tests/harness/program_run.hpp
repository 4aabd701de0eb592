#pragma once

#include <csignal>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace harness
{

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
};

// Runs one of the built programs as a user would: bytes on standard input,
// standard output and error captured, the environment given, exit awaited.
class ProgramRun
{
  public:
    explicit ProgramRun(std::string program);

    ProgramRun &input(std::string bytes);
    ProgramRun &args(std::vector<std::string> args);
    ProgramRun &env(const std::string &name, const std::string &value);
    // Standard output goes to this file instead of a pipe.
    ProgramRun &output_file(std::string path);
    // Once this many reply lines have been read, sends the signal.
    ProgramRun &signal_after_lines(int lines, int sig);
    // Once this many reply lines have been read, closes the reading end.
    ProgramRun &close_after_lines(int lines);
    ProgramRun &timeout_ms(int ms);
    // Standard input stays open after the bytes are fed, as at a terminal.
    ProgramRun &keep_input_open();
    // The program starts with SIGPIPE ignored, as some launchers leave it.
    ProgramRun &ignore_sigpipe();

    Outcome run() const;

  private:
    std::string program_;
    std::string input_;
    std::vector<std::string> args_;
    std::map<std::string, std::string> env_;
    std::string output_file_;
    int trigger_lines_ = 0;
    int trigger_signal_ = 0;
    bool trigger_close_ = false;
    bool keep_input_open_ = false;
    bool ignore_sigpipe_ = false;
    int timeout_ms_ = 20000;
};

std::int64_t now_ns();

// Nanoseconds in a millisecond, for the times in outcomes and the call log.
constexpr std::int64_t ms = 1000000;

// What starts each of parley's reply lines.
constexpr const char *reply_tag = " arduino dit :";

// The two received bytes of each reply line in a program's output, in order.
std::vector<std::string> reply_pairs(const std::string &out);

// Number of reply lines in a program's output.
int count_replies(const std::string &out);

} // namespace harness
