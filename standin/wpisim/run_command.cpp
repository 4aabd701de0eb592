// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim run: the options, the private bench a run gets (its own state
// directory, ended with it) and the artefacts it leaves.
#include "run_command.hpp"

#include "bench_file.hpp"
#include "board_client.hpp"
#include "clock.hpp"
#include "message.hpp"
#include "run_checker.hpp"
#include "settings.hpp"
#include "state_files.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <map>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

const char run_usage[] =
    "wpisim run [--bench FILE] [--firmware FILE] [--scenario FILE] [--timeout TIME]\n"
    "           [--expect TEXT] [--forbid TEXT] [--expect-serial [BOARD:]TEXT]\n"
    "           [--forbid-serial [BOARD:]TEXT] [--status N] [--artefacts DIR] [--junit FILE]\n"
    "           [--wall] [--wall-limit TIME] [--] PROGRAM [ARG...]";

const char run_help[] =
    "Runs PROGRAM on a private bench (its own state directory, ended with it), on\n"
    "the virtual clock, with the bench file named, else $WPISIM_BENCH, else\n"
    "./wpisim.toml, and checks it.\n"
    "  --scenario FILE     steps in order: type, output, serial, send_serial, drive,\n"
    "                      pin, pwm, wait, exit (see wpisim(1))\n"
    "  --timeout TIME      the run's limit in simulated time (default 60s)\n"
    "  --expect TEXT       TEXT must show on the program's output; --forbid: must not\n"
    "  --expect-serial [BOARD:]TEXT, --forbid-serial [BOARD:]TEXT\n"
    "                      the same on a board's serial port (the first board's)\n"
    "  --status N          the program's exit status when it ends by itself (0)\n"
    "  --firmware FILE     the first board's firmware (else the bench file's, else\n"
    "                      the reference firmware)\n"
    "  --artefacts DIR     output.txt, stderr.txt, calls.log, trace.vcd,\n"
    "                      serial-BOARD.log and junit.xml\n"
    "  --junit FILE        the JUnit XML report alone\n"
    "  --wall              on the wall clock instead\n"
    "  --wall-limit TIME   the run's limit in wall time (default 60s)\n"
    "Exit status: 0 passed, 1 an expectation failed, 2 a time limit, 3 a bench error.\n";

// How long a board process that is told to go gets before it is made to.
constexpr std::int64_t board_grace_ns = 2000000000;
constexpr std::int64_t default_wall_limit_ns = std::int64_t{60} * 1000000000;

struct Options {
    RunPlan plan;
    std::string bench, firmware, scenario, artefacts, junit;
    // --expect and the like, read once the bench's boards are known.
    std::vector<std::pair<std::string, std::string>> texts;
};

[[noreturn]] void run_usage_error(const std::string &why)
{
    std::fprintf(stderr, "wpisim: run: %s\nUsage: %s\n", why.c_str(), run_usage);
    std::exit(run_bench_error);
}

std::int64_t time_option(const std::string &name, const std::string &value)
{
    const std::int64_t ns = duration_ns(value);
    if (ns <= 0)
        run_usage_error(name + " " + quoted(value) + ": not a time such as 500ms or 2s");
    return ns;
}

// [BOARD:]TEXT, where BOARD is one of the bench's boards.
SerialText serial_option(const std::string &value)
{
    const std::size_t colon = value.find(':');
    if (colon != std::string::npos && colon > 0 && bench_board(value.substr(0, colon)) != nullptr)
        return {value.substr(0, colon), value.substr(colon + 1)};
    return {"", value};
}

Options parse(const std::vector<std::string> &args)
{
    Options o;
    o.plan.wall_limit_ns = default_wall_limit_ns;
    std::size_t i = 0;
    std::string timeout;
    std::string status;
    const auto value = [&](const std::string &name) -> std::string {
        if (i + 1 >= args.size())
            run_usage_error(name + " wants a value");
        return args[++i];
    };
    for (; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.empty() || a[0] != '-')
            break;
        if (a == "--help" || a == "-h") {
            std::printf("Usage: %s\n%s", run_usage, run_help);
            std::exit(0);
        }
        if (a == "--wall")
            o.plan.wall = true;
        else if (a == "--bench")
            o.bench = value(a);
        else if (a == "--firmware")
            o.firmware = value(a);
        else if (a == "--scenario")
            o.scenario = value(a);
        else if (a == "--artefacts")
            o.artefacts = value(a);
        else if (a == "--junit")
            o.junit = value(a);
        else if (a == "--timeout")
            timeout = value(a);
        else if (a == "--status")
            status = value(a);
        else if (a == "--wall-limit")
            o.plan.wall_limit_ns = time_option(a, value(a));
        else if (a == "--expect" || a == "--forbid" || a == "--expect-serial" ||
                 a == "--forbid-serial")
            o.texts.emplace_back(a, value(a));
        else
            run_usage_error("no option " + quoted(a));
    }
    o.plan.program.assign(args.begin() + static_cast<std::ptrdiff_t>(std::min(i, args.size())),
                          args.end());
    if (o.plan.program.empty())
        run_usage_error("no program to run");
    Scenario &s = o.plan.scenario;
    if (!o.scenario.empty()) {
        const std::vector<std::string> errors = read_scenario(o.scenario, s);
        for (const std::string &e : errors)
            std::fprintf(stderr, "wpisim: run: %s\n", e.c_str());
        if (!errors.empty())
            std::exit(run_bench_error);
    }
    if (!timeout.empty()) {
        s.timeout_ns = time_option("--timeout", timeout);
        s.timeout_given = true;
    }
    if (!status.empty()) {
        const auto n = decimal(status, 0, 255);
        if (!n)
            run_usage_error("--status " + quoted(status) + ": not an exit status, 0 to 255");
        s.status = static_cast<int>(*n);
    }
    return o;
}

void add_texts(Options &o)
{
    Scenario &s = o.plan.scenario;
    for (const auto &[name, text] : o.texts) {
        if (text.empty())
            run_usage_error(name + ": an empty text is found everywhere");
        if (name == "--expect")
            s.expect.push_back(text);
        else if (name == "--forbid")
            s.forbid.push_back(text);
        else if (name == "--expect-serial")
            s.expect_serial.push_back(serial_option(text));
        else
            s.forbid_serial.push_back(serial_option(text));
    }
    for (const Step &st : s.steps)
        if (!st.board.empty() && bench_board(st.board) == nullptr)
            run_usage_error(s.file + ":" + std::to_string(st.line) + ": board " + quoted(st.board) +
                            ": not a board of the bench (" + bench_board_names() + ")");
}

std::string absolute(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    return std::string(cwd) + "/" + path;
}

// The private bench: its own state directory, the bench file of the project
// or the one named, the virtual clock unless told.
std::string private_bench(const Options &o)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string dir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/wpisim-run-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        std::fprintf(stderr, "wpisim: run: a state directory in %s: %s\n", quoted(dir).c_str(),
                     std::strerror(errno));
        std::exit(run_bench_error);
    }
    setenv("WPISIM_STATE_DIR", dir.c_str(), 1);
    setenv("WPISIM_TIME", o.plan.wall ? "wall" : "virtual", 1);
    if (!o.bench.empty())
        setenv("WPISIM_BENCH", absolute(o.bench).c_str(), 1);
    else if (std::getenv("WPISIM_BENCH") == nullptr && access("wpisim.toml", F_OK) == 0)
        setenv("WPISIM_BENCH", absolute("wpisim.toml").c_str(), 1);
    if (!o.firmware.empty())
        setenv("WPISIM_FIRMWARE", absolute(o.firmware).c_str(), 1);
    if (!o.artefacts.empty()) {
        setenv("WPISIM_LOG", (o.artefacts + "/calls.log.raw").c_str(), 1);
        setenv("WPISIM_TRACE", (o.artefacts + "/trace.vcd").c_str(), 1);
    }
    return dir;
}

bool check_bench()
{
    const std::string path = bench_file_path();
    if (path.empty())
        return true;
    const std::vector<std::string> errors = check_bench_file(path, nullptr);
    for (const std::string &e : errors)
        std::fprintf(stderr, "wpisim: run: %s\n", e.c_str());
    return errors.empty();
}

std::string private_dir;

int remove_entry(const char *path, const struct stat * /*st*/, int /*flag*/, FTW * /*ftw*/)
{
    return remove(path);
}

// The boards the run started go with it, and so does its state directory.
void end_private_bench()
{
    end_checked_program();
    if (private_dir.empty())
        return;
    std::vector<int> pids;
    for (const BenchBoard &b : the_bench().boards)
        if (const auto st = board_status(&b == &first_board() ? "" : b.name);
            st && st->answer.pid > 0)
            pids.push_back(st->answer.pid);
    for (const int pid : pids)
        kill(pid, SIGTERM);
    const std::int64_t until = now_ns() + board_grace_ns;
    // Orphaned, they are this process's children (a subreaper), so reaped here.
    const auto gone = [](int pid) {
        return waitpid(pid, nullptr, WNOHANG) == pid || kill(pid, 0) != 0;
    };
    for (const int pid : pids) {
        while (!gone(pid) && now_ns() < until)
            usleep(1000);
        if (!gone(pid)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    nftw(private_dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    private_dir.clear();
}

bool finishing = false;

// A failure on the way (the stand-in's own, which exits) still ends the run's
// program and boards, and says so as a bench error.
void on_exit()
{
    if (finishing)
        return;
    finishing = true;
    end_private_bench();
    _exit(run_bench_error);
}

void on_signal(int sig)
{
    signal(sig, SIG_DFL);
    std::exit(run_bench_error);
}

bool write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "wpisim: run: %s: %s\n", quoted(path).c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The call log without what differs from run to run: process ids (numbered
// in the order they first show), the host's CPU time, the private
// directory's name.
std::string steady_field(const std::string &field, std::map<std::string, int> &pids)
{
    const std::size_t eq = field.find('=');
    if (eq == std::string::npos)
        return field;
    const std::string key = field.substr(0, eq);
    const std::string value = field.substr(eq + 1);
    const auto ends = [&](const char *tail) {
        const std::string t = tail;
        return key.size() >= t.size() && key.compare(key.size() - t.size(), t.size(), t) == 0;
    };
    if (ends("cpu_ns"))
        return "";
    if (ends("pid")) {
        const auto [it, fresh] = pids.emplace(value, static_cast<int>(pids.size()) + 1);
        return key + "=" + std::to_string(it->second);
    }
    return field;
}

std::string steady_log(const std::string &raw, const std::string &dir)
{
    std::string out;
    std::map<std::string, int> pids;
    std::istringstream lines(raw);
    std::string line;
    while (std::getline(lines, line)) {
        for (std::size_t at = line.find(dir); at != std::string::npos; at = line.find(dir, at))
            line.replace(at, dir.size(), "STATE");
        std::istringstream fields(line);
        std::string field;
        std::string kept;
        while (fields >> field) {
            const std::string f = steady_field(field, pids);
            if (!f.empty())
                kept += (kept.empty() ? "" : " ") + f;
        }
        out += kept + "\n";
    }
    return out;
}

bool write_artefacts(const Options &o, const RunOutcome &r, const std::string &dir)
{
    bool ok = true;
    if (!o.junit.empty())
        ok = write_file(o.junit, junit_xml(r.report)) && ok;
    if (o.artefacts.empty())
        return ok;
    const std::string &a = o.artefacts;
    ok = write_file(a + "/output.txt", r.report.output) && ok;
    ok = write_file(a + "/stderr.txt", r.errors) && ok;
    ok = write_file(a + "/junit.xml", junit_xml(r.report)) && ok;
    const std::string raw = a + "/calls.log.raw";
    ok = write_file(a + "/calls.log", steady_log(read_file(raw), dir)) && ok;
    std::remove(raw.c_str());
    for (const BenchBoard &b : the_bench().boards) {
        const std::string file =
            state_files::of_board(state_files::serial_log, &b == &first_board() ? "" : b.name);
        ok = write_file(a + "/serial-" + b.name + ".log", read_file(dir + "/" + file)) && ok;
    }
    return ok;
}

void make_dir(const std::string &path)
{
    std::string part;
    std::istringstream parts(path);
    std::string piece;
    if (!path.empty() && path[0] == '/')
        part = "/";
    while (std::getline(parts, piece, '/')) {
        if (piece.empty())
            continue;
        part += piece + "/";
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "wpisim: run: --artefacts %s: %s\n", quoted(path).c_str(),
                         std::strerror(errno));
            std::exit(run_bench_error);
        }
    }
}

const char *verdict(int status)
{
    switch (status) {
    case run_passed:
        return "passed";
    case run_failed:
        return "failed";
    case run_timed_out:
        return "time limit";
    default:
        return "bench error";
    }
}

} // namespace

int run_command(const std::vector<std::string> &args)
{
    Options o = parse(args);
    if (!o.artefacts.empty()) {
        make_dir(o.artefacts);
        o.artefacts = absolute(o.artefacts);
        // A run's log is its own, not appended to the last one's.
        std::remove((o.artefacts + "/calls.log.raw").c_str());
        std::remove((o.artefacts + "/trace.vcd").c_str());
    }
    private_dir = private_bench(o);
    // The boards a run's program starts outlive it; they come back here.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::atexit(on_exit);
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    signal(SIGHUP, on_signal);
    // A reader that went (| head) gives EPIPE: the run goes on and cleans up.
    signal(SIGPIPE, [](int) {});
    if (!check_bench()) {
        finishing = true;
        end_private_bench();
        return run_bench_error;
    }
    add_texts(o);
    const RunOutcome r = check_run(o.plan);
    const bool written = write_artefacts(o, r, private_dir);
    end_private_bench();
    finishing = true;
    if (r.why.empty())
        std::fprintf(stderr, "wpisim: run: %s, in %s of %s time\n", verdict(r.status),
                     duration_text(r.report.ns).c_str(), o.plan.wall ? "wall" : "simulated");
    else
        std::fprintf(stderr, "wpisim: run: %s: %s\n", verdict(r.status), r.why.c_str());
    if (!written && r.status == run_passed)
        return run_bench_error;
    return r.status;
}

} // namespace wpisim
