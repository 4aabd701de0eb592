#include "program_run.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PROGRAM_LAUNCHER
#define PROGRAM_LAUNCHER ""
#endif

namespace harness
{

std::int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::vector<std::string> reply_pairs(const std::string &out)
{
    const std::string tag = reply_tag;
    std::vector<std::string> pairs;
    for (std::size_t at = out.find(tag); at != std::string::npos; at = out.find(tag, at + 1))
        pairs.push_back(out.substr(at + tag.size(), 2));
    return pairs;
}

int count_replies(const std::string &out)
{
    return static_cast<int>(reply_pairs(out).size());
}

ProgramRun::ProgramRun(std::string program) : program_(std::move(program)) {}

ProgramRun &ProgramRun::input(std::string bytes)
{
    input_ = std::move(bytes);
    return *this;
}

ProgramRun &ProgramRun::args(std::vector<std::string> args)
{
    args_ = std::move(args);
    return *this;
}

ProgramRun &ProgramRun::env(const std::string &name, const std::string &value)
{
    env_[name] = value;
    return *this;
}

ProgramRun &ProgramRun::output_file(std::string path)
{
    output_file_ = std::move(path);
    return *this;
}

ProgramRun &ProgramRun::signal_after_lines(int lines, int sig)
{
    trigger_lines_ = lines;
    trigger_signal_ = sig;
    return *this;
}

ProgramRun &ProgramRun::close_after_lines(int lines)
{
    trigger_lines_ = lines;
    trigger_close_ = true;
    return *this;
}

ProgramRun &ProgramRun::keep_input_open()
{
    keep_input_open_ = true;
    return *this;
}

ProgramRun &ProgramRun::ignore_sigpipe()
{
    ignore_sigpipe_ = true;
    return *this;
}

ProgramRun &ProgramRun::timeout_ms(int ms)
{
    timeout_ms_ = ms;
    return *this;
}

namespace
{

// The launcher (an emulator such as qemu-arm for a cross build, its words
// joined by '|') comes first.
std::vector<std::string> command_line(const std::string &program,
                                      const std::vector<std::string> &args)
{
    std::vector<std::string> argv;
    static const char launcher_words[] = PROGRAM_LAUNCHER;
    const std::string launcher(launcher_words);
    for (std::size_t start = 0; start < launcher.size();) {
        std::size_t end = launcher.find('|', start);
        if (end == std::string::npos)
            end = launcher.size();
        if (end > start)
            argv.push_back(launcher.substr(start, end - start));
        start = end + 1;
    }
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<std::string> environment(const std::map<std::string, std::string> &extra)
{
    std::vector<std::string> env;
    // The stand-in's own variables come only from the test, never the caller's shell.
    for (char **e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "WPISIM_", 7) != 0)
            env.emplace_back(*e);
    for (const auto &[name, value] : extra)
        env.push_back(std::string(name).append("=").append(value));
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> p;
    p.reserve(strings.size() + 1);
    for (std::string &s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

Outcome ProgramRun::run() const
{
    // A program that exits before reading its input must not take the test down with it.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> argv_s = command_line(program_, args_);
    std::vector<std::string> env_s = environment(env_);
    std::vector<char *> argv = pointers(argv_s);
    std::vector<char *> envp = pointers(env_s);

    int in_pipe[2];
    int out_pipe[2] = {-1, -1};
    int err_pipe[2];
    check(pipe2(in_pipe, O_CLOEXEC) == 0, "pipe");
    check(pipe2(err_pipe, O_CLOEXEC) == 0, "pipe");
    if (output_file_.empty())
        check(pipe2(out_pipe, O_CLOEXEC) == 0, "pipe");
    int out_fd = -1;
    if (!output_file_.empty()) {
        out_fd = open(output_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        check(out_fd >= 0, "open output file");
    }

    Outcome result;
    result.start_ns = now_ns();
    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(output_file_.empty() ? out_pipe[1] : out_fd, 1);
        dup2(err_pipe[1], 2);
        // As from a terminal, whatever the test runner ignores or blocks.
        for (int sig : {SIGPIPE, SIGINT, SIGTERM})
            signal(sig, SIG_DFL);
        if (ignore_sigpipe_)
            signal(SIGPIPE, SIG_IGN);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(err_pipe[1]);
    if (output_file_.empty())
        close(out_pipe[1]);
    else
        close(out_fd);

    // Feed standard input, then close it; the reader sees end of input.
    int in_fd = in_pipe[1];
    std::size_t fed = 0;
    int out_r = output_file_.empty() ? out_pipe[0] : -1;
    int err_r = err_pipe[0];
    bool triggered = false;
    const std::int64_t deadline =
        result.start_ns + static_cast<std::int64_t>(timeout_ms_) * 1000000;

    while (out_r >= 0 || err_r >= 0) {
        if (in_fd >= 0 && fed == input_.size() && !keep_input_open_) {
            close(in_fd);
            in_fd = -1;
        }
        pollfd fds[3];
        int n = 0;
        if (in_fd >= 0 && fed < input_.size())
            fds[n++] = {in_fd, POLLOUT, 0};
        if (out_r >= 0)
            fds[n++] = {out_r, POLLIN, 0};
        if (err_r >= 0)
            fds[n++] = {err_r, POLLIN, 0};
        const std::int64_t left_ms = (deadline - now_ns()) / 1000000;
        if (left_ms <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, static_cast<nfds_t>(n), static_cast<int>(left_ms)) < 0 && errno != EINTR)
            check(false, "poll");
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in_fd) {
                const ssize_t w = write(in_fd, input_.data() + fed, input_.size() - fed);
                if (w > 0) {
                    fed += static_cast<std::size_t>(w);
                } else {
                    close(in_fd); // the program stopped reading
                    in_fd = -1;
                }
                continue;
            }
            char chunk[4096];
            const ssize_t r = read(fds[i].fd, chunk, sizeof chunk);
            if (r > 0) {
                std::string &sink = fds[i].fd == out_r ? result.out : result.err;
                sink.append(chunk, static_cast<std::size_t>(r));
            } else {
                close(fds[i].fd);
                (fds[i].fd == out_r ? out_r : err_r) = -1;
            }
        }
        if (!triggered && trigger_lines_ > 0 && count_replies(result.out) >= trigger_lines_) {
            triggered = true;
            if (trigger_close_ && out_r >= 0) {
                close(out_r);
                out_r = -1;
            } else if (trigger_signal_ != 0) {
                kill(pid, trigger_signal_);
            }
        }
    }
    if (in_fd >= 0)
        close(in_fd);
    if (out_r >= 0)
        close(out_r);
    if (err_r >= 0)
        close(err_r);

    int status = 0;
    // A program whose output pipe is closed may still be running: wait with the deadline too.
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (now_ns() > deadline && !result.timed_out) {
            result.timed_out = true;
            kill(pid, SIGKILL);
        }
        const timespec pause{0, 100000};
        nanosleep(&pause, nullptr);
    }
    result.end_ns = now_ns();
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

} // namespace harness
