// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "program_run.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace harness
{

std::int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool eventually(const std::function<bool()> &done, std::int64_t limit_ms)
{
    const std::int64_t deadline = now_ns() + limit_ms * ms;
    for (;;) {
        if (done())
            return true;
        if (now_ns() > deadline)
            return false;
        const timespec pause{0, 10 * ms};
        nanosleep(&pause, nullptr);
    }
}

std::int64_t Outcome::arrived_ns(std::size_t offset) const
{
    for (const Chunk &c : out_chunks)
        if (offset < c.end)
            return c.ns;
    return 0;
}

ProgramRun &ProgramRun::without_env(const std::string &prefix)
{
    dropped_env_.push_back(prefix);
    auto it = env_.lower_bound(prefix);
    while (it != env_.end() && it->first.compare(0, prefix.size(), prefix) == 0)
        it = env_.erase(it);
    return *this;
}

namespace
{

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// One file descriptor, closed once: by reset() or when it goes.
class Fd
{
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }
    void reset()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

Pipe make_pipe()
{
    int fds[2];
    check(pipe2(fds, O_CLOEXEC) == 0, "pipe");
    return {Fd(fds[0]), Fd(fds[1])};
}

std::vector<std::string> environment(const std::vector<std::string> &dropped,
                                     const std::map<std::string, std::string> &given)
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const std::string name(entry.substr(0, entry.find('=')));
        const bool drop = given.count(name) > 0 ||
                          std::any_of(dropped.begin(), dropped.end(), [&](const std::string &p) {
                              return name.compare(0, p.size(), p) == 0;
                          });
        if (!drop)
            env.emplace_back(entry);
    }
    for (const auto &[name, value] : given)
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

// Between fork and exec, in a process that may have other threads' locks:
// only async-signal-safe calls.
[[noreturn]] void become(const Fd &in, const Fd &out, const Fd &err, bool ignore_sigpipe,
                         char *const argv[], char *const envp[])
{
    dup2(in.get(), 0);
    dup2(out.get(), 1);
    dup2(err.get(), 2);
    // As from a terminal, whatever the test process ignores or blocks.
    for (const int sig : {SIGPIPE, SIGINT, SIGTERM})
        signal(sig, SIG_DFL);
    if (ignore_sigpipe)
        signal(SIGPIPE, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv, envp);
    _exit(127);
}

// The parent's ends of a running program's standard streams: feeds its input,
// collects its output.
class Pump
{
  public:
    Pump(Fd in, Fd out, Fd err, const std::string &input, bool keep_input_open)
        : in_(std::move(in)), out_(std::move(out)), err_(std::move(err)), input_(input),
          keep_input_open_(keep_input_open)
    {
        // Never blocks on a program that reads slowly while its output waits.
        fcntl(in_.get(), F_SETFL, O_NONBLOCK);
    }

    bool open() const { return out_.is_open() || err_.is_open(); }
    void close_output() { out_.reset(); }
    // Handles what the streams have, waiting until the deadline; false once it has passed.
    bool step(std::int64_t deadline_ns, Outcome &result)
    {
        if (fed_ == input_.size() && !keep_input_open_)
            in_.reset(); // the program sees end of input
        // poll() passes over the entries of closed streams, whose descriptor is -1.
        pollfd fds[] = {{fed_ < input_.size() ? in_.get() : -1, POLLOUT, 0},
                        {out_.get(), POLLIN, 0},
                        {err_.get(), POLLIN, 0}};
        const std::int64_t left_ms = (deadline_ns - now_ns()) / ms;
        if (left_ms <= 0)
            return false;
        check(poll(fds, 3, static_cast<int>(left_ms)) >= 0 || errno == EINTR, "poll");
        if (fds[0].revents != 0)
            feed();
        if (fds[1].revents != 0)
            drain(out_, result.out, &result.out_chunks);
        if (fds[2].revents != 0)
            drain(err_, result.err, nullptr);
        return true;
    }

  private:
    // A program that has stopped reading must not take the test process down:
    // SIGPIPE is blocked in this thread for the write, and the one it raised taken back.
    void feed()
    {
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        sigset_t before;
        pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
        const ssize_t w = write(in_.get(), input_.data() + fed_, input_.size() - fed_);
        const bool stopped_reading = w < 0 && errno != EAGAIN;
        const timespec now{};
        if (w < 0 && errno == EPIPE)
            sigtimedwait(&pipe_signal, nullptr, &now);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        if (w > 0)
            fed_ += static_cast<std::size_t>(w);
        if (stopped_reading)
            in_.reset();
    }

    static void drain(Fd &from, std::string &sink, std::vector<Outcome::Chunk> *chunks)
    {
        char chunk[4096];
        const ssize_t r = read(from.get(), chunk, sizeof chunk);
        if (r <= 0) {
            from.reset();
            return;
        }
        sink.append(chunk, static_cast<std::size_t>(r));
        if (chunks != nullptr)
            chunks->push_back({sink.size(), now_ns()});
    }

    Fd in_;
    Fd out_;
    Fd err_;
    const std::string &input_;
    std::size_t fed_ = 0;
    bool keep_input_open_;
};

// Waits for the program's end, killing it at the deadline, and notes how it ended.
// A program whose output is closed may still be running.
void reap(pid_t pid, std::int64_t deadline_ns, Outcome &result)
{
    // Through syscall(): glibc 2.36's <sys/pidfd.h> does not declare it for C++.
    const Fd ended(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    check(ended.is_open(), "pidfd_open");
    pollfd ending{ended.get(), POLLIN, 0};
    const std::int64_t left_ms = std::max<std::int64_t>(0, (deadline_ns - now_ns()) / ms);
    const int ready = poll(&ending, 1, static_cast<int>(left_ms));
    check(ready >= 0, "poll");
    if (ready == 0) {
        result.timed_out = true;
        kill(pid, SIGKILL);
    }
    int status = 0;
    check(wait4(pid, &status, 0, &result.usage) == pid, "wait4");
    result.end_ns = now_ns();
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

} // namespace

Outcome ProgramRun::run() const
{
    std::vector<std::string> argv_text = command_;
    argv_text.insert(argv_text.end(), args_.begin(), args_.end());
    std::vector<std::string> env_text = environment(dropped_env_, env_);
    const std::vector<char *> argv = pointers(argv_text);
    const std::vector<char *> envp = pointers(env_text);
    Pipe in = make_pipe();
    Pipe err = make_pipe();
    Pipe out =
        output_file_.empty()
            ? make_pipe()
            : Pipe{Fd(),
                   Fd(open(output_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644))};
    check(out.write.is_open(), "open output file");

    Outcome result;
    result.start_ns = now_ns();
    const std::int64_t deadline_ns = result.start_ns + timeout_ms_ * ms;
    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0)
        become(in.read, out.write, err.write, ignore_sigpipe_, argv.data(), envp.data());
    in.read.reset();
    out.write.reset();
    err.write.reset();

    {
        Pump pump(std::move(in.write), std::move(out.read), std::move(err.read), input_,
                  keep_input_open_);
        bool fired = false;
        while (pump.open() && !result.timed_out) {
            if (!pump.step(deadline_ns, result)) {
                result.timed_out = true;
                kill(pid, SIGKILL);
            } else if (!fired && trigger_.when && trigger_.when(result.out)) {
                fired = true;
                if (trigger_.signal != 0)
                    kill(pid, trigger_.signal);
                else
                    pump.close_output();
            }
        }
    } // standard input closed before the wait, as the reader has finished
    reap(pid, deadline_ns, result);
    return result;
}

} // namespace harness
