// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The program runs on a terminal of its own, as a user's would, with its
// standard error apart. On the virtual clock it stops at holds this side
// orders, and what the checks see and do happens there: the same times, so
// the same results and artefacts, on every run.
#include "run_checker.hpp"

#include "bench_clock.hpp"
#include "bench_file.hpp"
#include "clock.hpp"
#include "message.hpp"
#include "pin_bank.hpp"
#include "pins.hpp"
#include "run_hold.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"
#include "trace.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

// While a step waits for text, the clock stops this often to look.
constexpr std::int64_t look_every_ns = 1000000;
// How long an ended or stopped program's process group gets to go.
constexpr std::int64_t stop_grace_ns = 2000000000;
// How long a board gets to take what is typed on its serial port.
constexpr std::int64_t serial_take_ns = 1000000000;

pid_t running = -1;

// Ends the program: asked first, while its clock is still held, so it does
// not run on; then let its clock go, in case it ends by calling the library.
void stop_group(pid_t pid, int *hold = nullptr)
{
    if (pid <= 0)
        return;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    const std::int64_t start = now_ns();
    const std::int64_t until = start + stop_grace_ns;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (hold != nullptr && *hold >= 0 && now_ns() > start + stop_grace_ns / 10) {
            close(*hold);
            *hold = -1;
        }
        if (now_ns() > until) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        sleep_until_ns(now_ns() + 2000000);
    }
}

// Writes text to a terminal within serial_take_ns of wall time and, when
// drained, until the other end has read it all: how many bytes it took.
std::size_t feed(int fd, const std::string &text, bool drained)
{
    std::size_t done = 0;
    int queued = 0;
    const std::int64_t until = now_ns() + serial_take_ns;
    for (;;) {
        if (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        if (drained && ioctl(fd, TIOCOUTQ, &queued) != 0)
            queued = 0;
        if ((done == text.size() && queued <= 0) || now_ns() >= until)
            break;
        sleep_until_ns(now_ns() + 500000);
    }
    return done - std::min(done, static_cast<std::size_t>(std::max(queued, 0)));
}

std::string exit_text(int status)
{
    if (WIFSIGNALED(status))
        return std::string("killed by ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(WEXITSTATUS(status));
}

class Checker
{
  public:
    explicit Checker(const RunPlan &plan) : plan_(plan), s_(plan.scenario)
    {
        timeout_at_ = s_.timeout_ns;
        report_.suite = suite_name();
        for (std::size_t i = 0; i < s_.steps.size(); ++i) {
            CheckResult c;
            const Step &st = s_.steps[i];
            c.name = "step " + std::to_string(i + 1) +
                     (st.line > 0 ? " (" + base_name(s_.file) + ":" + std::to_string(st.line) + ")"
                                  : "") +
                     ": " + step_text(st);
            report_.checks.push_back(c);
        }
    }

    Checker(const Checker &) = delete;
    Checker &operator=(const Checker &) = delete;
    ~Checker()
    {
        for (const int fd : {pty_, err_, hold_})
            if (fd >= 0)
                close(fd);
    }

    RunOutcome run()
    {
        RunOutcome out;
        if (!spawn(out))
            return out;
        wall_start_ = now_ns();
        advance();
        while (!finished_)
            turn();
        stop_group(pid_, &hold_);
        if (hold_ >= 0)
            close(hold_);
        hold_ = -1;
        running = -1;
        pid_ = -1;
        drain(pty_, report_.output, true);
        drain(err_, errors_, false);
        final_checks();
        out.status = status_;
        out.why = why_;
        report_.ns = ended_ ? end_ns_ : now_;
        out.report = report_;
        out.errors = errors_;
        return out;
    }

  private:
    std::string suite_name() const
    {
        const std::string name = base_name(s_.file.empty() ? plan_.program[0] : s_.file);
        const std::size_t dot = name.rfind('.');
        return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    }

    static std::string base_name(const std::string &path)
    {
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    // The descriptors a program is started with; whatever is left open when
    // it goes is closed.
    struct Ends {
        int master = -1, slave = -1;
        int err[2] = {-1, -1};
        int hold[2] = {-1, -1};
        int exec_failed[2] = {-1, -1};
        Ends() = default;
        Ends(const Ends &) = delete;
        Ends &operator=(const Ends &) = delete;
        ~Ends()
        {
            for (const int fd :
                 {master, slave, err[0], err[1], hold[0], hold[1], exec_failed[0], exec_failed[1]})
                if (fd >= 0)
                    close(fd);
        }
        static int take(int &fd)
        {
            const int taken = fd;
            fd = -1;
            return taken;
        }
    };

    // The program on a terminal without echo or newline translation, so its
    // output is what it wrote, line-buffered as on a user's terminal.
    bool open_ends(Ends &e, RunOutcome &out)
    {
        e.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (e.master < 0 || grantpt(e.master) != 0 || unlockpt(e.master) != 0 ||
            ptsname_r(e.master, name, sizeof name) != 0)
            return spawn_failed(out, "a terminal for the program", std::strerror(errno));
        e.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (e.slave < 0 || tcgetattr(e.slave, &t) != 0)
            return spawn_failed(out, "a terminal for the program", std::strerror(errno));
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOCTL);
        t.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
        tcsetattr(e.slave, TCSANOW, &t);
        if (pipe2(e.err, O_CLOEXEC) != 0 || pipe2(e.exec_failed, O_CLOEXEC) != 0 ||
            (!plan_.wall && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, e.hold) != 0))
            return spawn_failed(out, "the program's pipes", std::strerror(errno));
        if (!plan_.wall) {
            given_ = next_hold();
            const HoldOrder first{given_, 0, 0};
            if (write(e.hold[0], &first, sizeof first) != sizeof first)
                return spawn_failed(out, "the program's clock", std::strerror(errno));
        }
        return true;
    }

    bool spawn(RunOutcome &out)
    {
        Ends e;
        if (!open_ends(e, out))
            return false;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ < 0)
            return spawn_failed(out, "a process for the program", std::strerror(errno));
        if (pid_ == 0)
            exec_program(e.slave, e.err[1], e.hold[1], e.exec_failed[1]);
        running = pid_;
        close(Ends::take(e.slave));
        close(Ends::take(e.err[1]));
        close(Ends::take(e.exec_failed[1]));
        pty_ = Ends::take(e.master);
        err_ = Ends::take(e.err[0]);
        hold_ = Ends::take(e.hold[0]);
        fcntl(pty_, F_SETFL, O_NONBLOCK);
        fcntl(err_, F_SETFL, O_NONBLOCK);
        int failure = 0;
        if (read(e.exec_failed[0], &failure, sizeof failure) == sizeof failure) {
            waitpid(pid_, nullptr, 0);
            running = pid_ = -1;
            return spawn_failed(out, quoted(plan_.program[0]), std::strerror(failure));
        }
        return true;
    }

    [[noreturn]] void exec_program(int slave, int err, int hold, int exec_failed) const
    {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(err, 2);
        if (hold >= 0) {
            const int fd = dup(hold); // without close-on-exec
            setenv("WPISIM_RUN_FD", std::to_string(fd).c_str(), 1);
        }
        std::vector<char *> argv;
        for (const std::string &a : plan_.program)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        const int e = errno;
        if (write(exec_failed, &e, sizeof e) < 0)
            _exit(127);
        _exit(127);
    }

    static bool spawn_failed(RunOutcome &out, const std::string &what, const std::string &why)
    {
        out.status = run_bench_error;
        out.why = "cannot start " + what + ": " + why;
        return false;
    }

    // One look at everything that may have happened: output, a hold, an end.
    void turn()
    {
        pollfd fds[3] = {{pty_, POLLIN, 0}, {err_, POLLIN, 0}, {hold_, POLLIN, 0}};
        poll(fds, 3, 5);
        if (plan_.wall)
            now_ = now_ns() - wall_start_;
        drain(pty_, report_.output, true);
        drain(err_, errors_, false);
        if ((fds[2].revents & (POLLIN | POLLHUP)) != 0)
            take_hold();
        reap();
        advance();
        if (!finished_ && held_ && !plan_.wall && !ended_)
            order_hold();
        if (!finished_ && now_ns() - wall_start_ > plan_.wall_limit_ns)
            time_limit("the run took more than " + duration_text(plan_.wall_limit_ns) +
                       " of wall time (a program that waits for input no step types, or that "
                       "loops without calling the library, stops the clock)");
    }

    // What the program wrote, shown as it comes and kept.
    static void drain(int fd, std::string &into, bool to_stdout)
    {
        if (fd < 0)
            return;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            into.append(buffer, static_cast<std::size_t>(n));
            const int to = to_stdout ? 1 : 2;
            if (write(to, buffer, static_cast<std::size_t>(n)) < 0 && errno == EPIPE)
                return;
        }
    }

    void take_hold()
    {
        HoldReached r{};
        if (read(hold_, &r, sizeof r) != sizeof r) {
            close(hold_);
            hold_ = -1;
            return;
        }
        // All the program wrote before its clock got here is on the terminal.
        drain(pty_, report_.output, true);
        now_ = r.at_ns;
        held_ = true;
    }

    void order_hold()
    {
        given_ = next_hold();
        const bool boards = step_ < s_.steps.size() && s_.steps[step_].kind == StepKind::serial;
        const HoldOrder order{given_, boards ? 1 : 0, 0};
        held_ = false;
        if (send(hold_, &order, sizeof order, MSG_NOSIGNAL) != sizeof order) {
            close(hold_);
            hold_ = -1;
        }
    }

    // Where the clock must stop next for the step that waits.
    std::int64_t next_hold() const
    {
        std::int64_t at = timeout_at_;
        if (step_ < s_.steps.size()) {
            const Step &st = s_.steps[step_];
            switch (st.kind) {
            case StepKind::output:
            case StepKind::serial:
                at = std::min(now_ + look_every_ns, deadline(st));
                break;
            case StepKind::wait:
                at = from_ + st.ns;
                break;
            case StepKind::exit:
                at = deadline(st);
                break;
            default:
                at = now_;
                break;
            }
        }
        return std::min(at, timeout_at_);
    }

    std::int64_t deadline(const Step &st) const { return from_ + st.ns; }

    void reap()
    {
        if (ended_ || pid_ <= 0)
            return;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_)
            return;
        ended_ = true;
        exit_status_ = status;
        running = pid_ = -1;
        drain(pty_, report_.output, true);
        drain(err_, errors_, false);
        end_ns_ = plan_.wall ? now_ns() - wall_start_ : bench_clock_reading();
        now_ = std::max(now_, end_ns_);
        if (hold_ >= 0)
            close(hold_);
        hold_ = -1;
    }

    // The time a step that passes now passes at: a hold's, or the next
    // hold's when the program runs towards it.
    std::int64_t pass_time() const
    {
        if (ended_)
            return end_ns_;
        return held_ || plan_.wall ? now_ : given_;
    }

    // Takes every step it can now, in order.
    void advance()
    {
        while (!finished_ && step_ < s_.steps.size()) {
            if (!take(s_.steps[step_]))
                return;
        }
        if (finished_)
            return;
        if (ended_) {
            finish(run_passed, "");
            return;
        }
        if (!s_.steps.empty()) {
            // Every step taken: the program has done what was asked.
            finish(run_passed, "");
            return;
        }
        if ((held_ || plan_.wall) && now_ >= timeout_at_)
            time_limit("the program ran for " + duration_text(timeout_at_) +
                       " of simulated time without ending");
    }

    bool at_hold() const { return held_ || plan_.wall || ended_; }

    // One step: true when it is done and the next may go.
    bool take(const Step &st)
    {
        switch (st.kind) {
        case StepKind::type:
            return type(st);
        case StepKind::output:
            return wait_text(st, report_.output, out_from_);
        case StepKind::serial:
            if (!at_hold())
                return false;
            return wait_text(st, board_serial_output(st.board), serial_from_[st.board]);
        case StepKind::send_serial:
            return at_hold() && send_serial(st);
        case StepKind::drive:
            return at_hold() && drive(st);
        case StepKind::pin:
        case StepKind::pwm:
            return at_hold() && expect_pin(st);
        case StepKind::wait:
            if (ended_ || ((held_ || plan_.wall) && now_ >= from_ + st.ns))
                return passed(ended_ ? end_ns_ : from_ + st.ns);
            return false;
        case StepKind::exit:
            return expect_exit(st);
        }
        return false;
    }

    bool passed(std::int64_t at)
    {
        report_.checks[step_].outcome = CheckOutcome::passed;
        report_.checks[step_].ns = std::max<std::int64_t>(0, at - from_);
        from_ = std::max(from_, at);
        ++step_;
        return true;
    }

    bool step_failed(CheckOutcome o, const std::string &why)
    {
        CheckResult &c = report_.checks[step_];
        c.outcome = o;
        c.message = why;
        c.ns = std::max<std::int64_t>(0, (ended_ ? end_ns_ : now_) - from_);
        finish(o == CheckOutcome::timed_out ? run_timed_out : run_failed, c.name + ": " + why);
        return false;
    }

    // Whether the step's time is up, at a hold.
    bool out_of_time(const Step &st) const
    {
        return (held_ || plan_.wall) && now_ >= std::min(deadline(st), timeout_at_);
    }

    std::string time_up(const Step &st) const
    {
        return now_ >= timeout_at_ && deadline(st) > timeout_at_
                   ? "the run's " + duration_text(timeout_at_) + " ran out first"
                   : "not within " + duration_text(st.ns);
    }

    bool type(const Step &st)
    {
        if (ended_)
            return step_failed(CheckOutcome::failed,
                               "the program had ended (" + exit_text(exit_status_) + ")");
        // The terminal takes a line at a time as the program reads it.
        const std::size_t done = feed(pty_, st.text, false);
        if (done < st.text.size())
            return step_failed(CheckOutcome::bench_error,
                               "the program's terminal took " + std::to_string(done) + " of " +
                                   std::to_string(st.text.size()) + " bytes");
        return passed(pass_time());
    }

    bool wait_text(const Step &st, const std::string &text, std::size_t &from)
    {
        const std::size_t at = text.find(st.text, from);
        if (at != std::string::npos) {
            from = at + st.text.size();
            return passed(pass_time());
        }
        if (ended_)
            return step_failed(CheckOutcome::failed,
                               "the program ended (" + exit_text(exit_status_) + ") first");
        if (out_of_time(st))
            return step_failed(CheckOutcome::timed_out, time_up(st));
        return false;
    }

    // State files name the bench's first board plainly.
    static std::string board_file_name(const std::string &board)
    {
        const BenchBoard *b = bench_board(board);
        return b == nullptr ? "" : state_name(*b);
    }

    bool send_serial(const Step &st)
    {
        const std::string file =
            state_files::of_board(state_files::board_tty, board_file_name(st.board));
        const std::string tty = state_dir_path() + "/" + file;
        const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return step_failed(CheckOutcome::bench_error,
                               "the board's serial port " + quoted(tty) + ": " +
                                   std::strerror(errno) + " (no run has started the board yet)");
        // Taken by the board before the clock goes on, so at this time.
        const std::size_t taken = feed(fd, st.text, true);
        close(fd);
        if (taken < st.text.size())
            return step_failed(CheckOutcome::bench_error,
                               "the board took " + std::to_string(taken) + " of " +
                                   std::to_string(st.text.size()) + " bytes in " +
                                   duration_text(serial_take_ns) + " of wall time");
        return passed(pass_time());
    }

    // On the virtual clock the program takes the drive itself, at the hold's
    // time, as it takes a scheduled one: its interrupt handlers see the edge
    // before its clock goes on.
    bool drive(const Step &st)
    {
        static const int drives[] = {gpio::drive_low, gpio::drive_high, gpio::drive_none};
        gpio::Bank &b = gpio::pins_bank("run");
        if (plan_.wall || ended_)
            gpio::settle(b, st.gpio, pass_time(), -1, -1, drives[st.level]);
        else if (!gpio::schedule(b, st.gpio, drives[st.level], pass_time(), true))
            return step_failed(CheckOutcome::bench_error,
                               "the bench holds at most " + std::to_string(gpio::schedule_slots) +
                                   " drives the program has not taken yet");
        return passed(pass_time());
    }

    bool expect_pin(const Step &st)
    {
        const gpio::Bank &b = gpio::pins_bank("run");
        const std::int64_t at = pass_time();
        if (st.kind == StepKind::pin) {
            const int level = gpio::level_of(b, st.gpio, at);
            if (level != st.level)
                return step_failed(CheckOutcome::failed, std::string("GPIO ") +
                                                             std::to_string(st.gpio) + " is " +
                                                             (level != 0 ? "high" : "low"));
            return passed(at);
        }
        const PinShape shape = gpio::shape_of(b, st.gpio);
        const double duty = shape.waving() ? 100.0 * shape.high_ns / shape.period_ns
                                           : (shape.level != 0 ? 100.0 : 0.0);
        const double hz = shape.waving() ? 1e9 / shape.period_ns : 0;
        const bool hz_off = st.hz > 0 && std::abs(hz - st.hz) > st.hz / 100;
        if (std::abs(duty - st.duty) > st.tolerance || hz_off) {
            char text[96];
            std::snprintf(text, sizeof text, "GPIO %d's duty is %.3g%% at %.4g Hz", st.gpio, duty,
                          hz);
            return step_failed(CheckOutcome::failed, text);
        }
        return passed(at);
    }

    bool expect_exit(const Step &st)
    {
        if (!ended_) {
            if (out_of_time(st))
                return step_failed(CheckOutcome::timed_out, time_up(st));
            return false;
        }
        exit_checked_ = true;
        if (!WIFEXITED(exit_status_) || WEXITSTATUS(exit_status_) != st.status)
            return step_failed(CheckOutcome::failed,
                               "the program ended with " + exit_text(exit_status_));
        return passed(end_ns_);
    }

    void time_limit(const std::string &why)
    {
        if (step_ < report_.checks.size()) {
            step_failed(CheckOutcome::timed_out, why);
            return;
        }
        finish(run_timed_out, why);
    }

    void finish(int status, const std::string &why)
    {
        if (finished_)
            return;
        finished_ = true;
        status_ = status;
        why_ = why;
    }

    // Over the whole run: text that must, or must not, show; how the program
    // ended, when it ended by itself.
    void final_checks()
    {
        const bool judged = status_ == run_passed;
        const auto check = [&](const std::string &name, bool ok, const std::string &why) {
            CheckResult c;
            c.name = name;
            c.ns = ended_ ? end_ns_ : now_;
            c.outcome = !judged ? CheckOutcome::skipped
                        : ok    ? CheckOutcome::passed
                                : CheckOutcome::failed;
            if (judged && !ok) {
                c.message = why;
                status_ = run_failed;
                if (why_.empty())
                    why_ = name + ": " + why;
            }
            report_.checks.push_back(c);
        };
        for (const std::string &t : s_.expect)
            check("expect " + quoted(t), report_.output.find(t) != std::string::npos,
                  "not in the output");
        for (const std::string &t : s_.forbid)
            check("forbid " + quoted(t), report_.output.find(t) == std::string::npos,
                  "in the output");
        for (const SerialText &t : s_.expect_serial)
            check("expect serial" + on(t.board) + " " + quoted(t.text),
                  board_serial_output(t.board).find(t.text) != std::string::npos, "not sent");
        for (const SerialText &t : s_.forbid_serial)
            check("forbid serial" + on(t.board) + " " + quoted(t.text),
                  board_serial_output(t.board).find(t.text) == std::string::npos, "sent");
        if (ended_ && !exit_checked_)
            check("exit " + std::to_string(s_.status),
                  WIFEXITED(exit_status_) && WEXITSTATUS(exit_status_) == s_.status,
                  "the program ended with " + exit_text(exit_status_));
    }

    static std::string on(const std::string &board) { return board.empty() ? "" : " on " + board; }

    const RunPlan &plan_;
    const Scenario &s_;
    RunReport report_;
    std::string errors_;
    pid_t pid_ = -1;
    int pty_ = -1;
    int err_ = -1;
    int hold_ = -1;
    std::int64_t wall_start_ = 0;
    std::int64_t now_ = 0;   // the run's clock, at the last hold
    std::int64_t given_ = 0; // the hold the program runs towards
    std::int64_t timeout_at_ = 0;
    std::int64_t from_ = 0;   // when the step in progress began
    std::int64_t end_ns_ = 0; // when the program ended
    bool held_ = false;
    bool ended_ = false;
    bool finished_ = false;
    bool exit_checked_ = false;
    int exit_status_ = 0;
    int status_ = run_passed;
    std::string why_;
    std::size_t step_ = 0;
    std::size_t out_from_ = 0;
    std::map<std::string, std::size_t> serial_from_;
};

} // namespace

std::string board_serial_output(const std::string &board)
{
    const BenchBoard *b = bench_board(board);
    const std::string file =
        state_files::of_board(state_files::serial_log, b == nullptr ? "" : state_name(*b));
    std::string text;
    const int fd = open_own(file, O_RDONLY);
    if (fd < 0)
        return text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
}

RunOutcome check_run(const RunPlan &plan)
{
    return Checker(plan).run();
}

void end_checked_program()
{
    stop_group(running);
    running = -1;
}

} // namespace wpisim
