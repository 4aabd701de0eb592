// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim run: the options, the private bench a run gets (its own state
// directory, ended with it) and the artefacts it leaves.
#include "run_command.hpp"

#include "bench_file.hpp"
#include "board_client.hpp"
#include "clock.hpp"
#include "gdb_command.hpp"
#include "message.hpp"
#include "run_checker.hpp"
#include "settings.hpp"
#include "state_files.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
// std::quoted comes with it, and would win over ours: ours are named in full.
#include <filesystem>
#include <fstream>
#include <functional>
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
    "           [--wall] [--wall-limit TIME] [--gdb [BOARD:]PORT] [--] PROGRAM [ARG...]";

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
    "  --gdb [BOARD:]PORT  open the board's stub for avr-gdb and halt the board\n"
    "                      before the program starts; the run waits while it is\n"
    "                      halted, until avr-gdb lets it go (continue)\n"
    "Exit status: 0 passed, 1 an expectation failed, 2 a time limit, 3 a bench error.\n";

// How long a board process that is told to go gets before it is made to.
constexpr std::int64_t board_grace_ns = 2000000000;
constexpr std::int64_t default_wall_limit_ns = std::int64_t{60} * 1000000000;

struct Options {
    RunPlan plan;
    std::string bench, firmware, scenario, artefacts, junit;
    std::vector<std::string> gdb; // wpisim gdb's arguments, for a board to debug
    bool wall_limit_given = false;
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
        run_usage_error(name + " " + wpisim::quoted(value) + ": not a time such as 500ms or 2s");
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

// --gdb [BOARD:]PORT as wpisim gdb's words.
std::vector<std::string> gdb_words(const std::string &value)
{
    const std::size_t colon = value.rfind(':');
    std::vector<std::string> words;
    if (colon != std::string::npos)
        words.push_back(value.substr(0, colon));
    words.emplace_back("--port");
    words.push_back(colon == std::string::npos ? value : value.substr(colon + 1));
    words.emplace_back("--halt");
    return words;
}

// The options before the program; its index.
std::size_t read_options(const std::vector<std::string> &args, Options &o, std::string &timeout,
                         std::string &status)
{
    std::size_t i = 0;
    const auto value = [&](const std::string &name) -> std::string {
        if (i + 1 >= args.size())
            run_usage_error(name + " wants a value");
        return args[++i];
    };
    // Each option that takes a value, and where it goes.
    const std::pair<const char *, std::string *> values[] = {
        {"--bench", &o.bench},         {"--firmware", &o.firmware}, {"--scenario", &o.scenario},
        {"--artefacts", &o.artefacts}, {"--junit", &o.junit},       {"--timeout", &timeout},
        {"--status", &status}};
    for (; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--")
            return i + 1;
        if (a.empty() || a[0] != '-')
            return i;
        if (a == "--help" || a == "-h") {
            std::printf("Usage: %s\n%s", run_usage, run_help);
            std::exit(0);
        }
        const auto *const named = std::find_if(std::begin(values), std::end(values),
                                               [&](const auto &v) { return a == v.first; });
        if (named != std::end(values))
            *named->second = value(a);
        else if (a == "--wall")
            o.plan.wall = true;
        else if (a == "--wall-limit") {
            o.plan.wall_limit_ns = time_option(a, value(a));
            o.wall_limit_given = true;
        } else if (a == "--gdb")
            o.gdb = gdb_words(value(a));
        else if (a == "--expect" || a == "--forbid" || a == "--expect-serial" ||
                 a == "--forbid-serial")
            o.texts.emplace_back(a, value(a));
        else
            run_usage_error("no option " + wpisim::quoted(a));
    }
    return i;
}

Options parse(const std::vector<std::string> &args)
{
    Options o;
    o.plan.wall_limit_ns = default_wall_limit_ns;
    std::string timeout;
    std::string status;
    const std::size_t first = read_options(args, o, timeout, status);
    o.plan.program.assign(args.begin() + static_cast<std::ptrdiff_t>(std::min(first, args.size())),
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
    if (!timeout.empty())
        s.timeout_ns = time_option("--timeout", timeout);
    if (!status.empty()) {
        const auto n = decimal(status, 0, 255);
        if (!n)
            run_usage_error("--status " + wpisim::quoted(status) +
                            ": not an exit status, 0 to 255");
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
            run_usage_error(s.file + ":" + std::to_string(st.line) + ": board " +
                            wpisim::quoted(st.board) + ": not a board of the bench (" +
                            bench_board_names() + ")");
}

std::string absolute(const std::string &path)
{
    std::error_code e;
    const std::filesystem::path whole = std::filesystem::absolute(path, e);
    return e ? path : whole.string();
}

// The private bench: its own state directory, the bench file of the project
// or the one named, the virtual clock unless told.
std::string private_bench(const Options &o)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string dir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/wpisim-run-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        std::fprintf(stderr, "wpisim: run: a state directory in %s: %s\n",
                     wpisim::quoted(dir).c_str(), std::strerror(errno));
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

// The boards the run started go with it, and so does its state directory.
void end_private_bench()
{
    end_checked_program();
    if (private_dir.empty())
        return;
    std::vector<int> pids;
    for (const BenchBoard &b : the_bench().boards)
        if (const auto st = board_status(state_name(b)); st && st->answer.pid > 0)
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
            sleep_until_ns(now_ns() + 1000000);
        if (!gone(pid)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    std::error_code e;
    std::filesystem::remove_all(private_dir, e);
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
        std::fprintf(stderr, "wpisim: run: %s: %s\n", wpisim::quoted(path).c_str(),
                     std::strerror(errno));
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

// The call log without what differs from run to run or machine to machine:
// process ids (numbered in the order they first show), the host's CPU time,
// the private directory's name, and the working directory's, so paths in the
// project read as relative ones.
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
    std::error_code e;
    const std::string here = std::filesystem::current_path(e).string() + "/";
    while (std::getline(lines, line)) {
        for (std::size_t at = line.find(dir); at != std::string::npos; at = line.find(dir, at))
            line.replace(at, dir.size(), "STATE");
        for (std::size_t at = line.find("=" + here); at != std::string::npos;
             at = line.find("=" + here, at + 1))
            line.erase(at + 1, here.size());
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
    const std::string junit = junit_xml(r.report);
    if (!o.junit.empty())
        ok = write_file(o.junit, junit) && ok;
    if (o.artefacts.empty())
        return ok;
    const std::string &a = o.artefacts;
    ok = write_file(a + "/output.txt", r.report.output) && ok;
    ok = write_file(a + "/stderr.txt", r.errors) && ok;
    ok = write_file(a + "/junit.xml", junit) && ok;
    const std::string raw = a + "/calls.log.raw";
    ok = write_file(a + "/calls.log", steady_log(read_file(raw), dir)) && ok;
    std::remove(raw.c_str());
    for (const BenchBoard &b : the_bench().boards) {
        std::string to = a;
        to.append("/serial-").append(b.name).append(".log");
        ok = write_file(to, board_serial_output(b.name)) && ok;
    }
    return ok;
}

void make_dir(const std::string &path)
{
    std::error_code e;
    std::filesystem::create_directories(path, e);
    if (e) {
        std::fprintf(stderr, "wpisim: run: --artefacts %s: %s\n", wpisim::quoted(path).c_str(),
                     e.message().c_str());
        std::exit(run_bench_error);
    }
}

// Does work in a process of its own, and ends the run as a bench error with
// failed when it fails: starting a board reads the clock, and on the
// virtual clock a reader holds it, which the program then could not. The
// board client's own time limits end the child.
void in_child(const char *failed, const std::function<int()> &work)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        finishing = true; // the run's own ending is not this child's
        const int status = work();
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 1;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) {
        std::fprintf(stderr, "wpisim: run: %s\n", failed);
        std::exit(run_bench_error);
    }
}

// A board whose serial port the scenario uses is on from the start, as on a
// real bench, whether or not the program talks to it.
void power_serial_boards(const Scenario &s)
{
    std::vector<std::string> names;
    for (const Step &st : s.steps)
        if (st.kind == StepKind::serial || st.kind == StepKind::send_serial)
            names.push_back(st.board);
    for (const SerialText &t : s.expect_serial)
        names.push_back(t.board);
    for (const SerialText &t : s.forbid_serial)
        names.push_back(t.board);
    if (names.empty())
        return;
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    in_child("the boards whose serial ports the scenario uses did not start", [&] {
        for (const std::string &name : names) {
            const BenchBoard *b = bench_board(name);
            if (b == nullptr || state_name(*b).empty())
                make_board_peer(true);
            else
                make_board_peer_of(name, false);
        }
        return 0;
    });
}

// The board's stub for avr-gdb, opened before the program starts, as wpisim
// gdb opens it; in a process of its own for the clock's sake, as above. A
// user at the debugger holds the board as long as they like, so the wall
// limit is an hour unless given.
void open_debugger(Options &o)
{
    if (o.gdb.empty())
        return;
    if (!o.wall_limit_given)
        o.plan.wall_limit_ns = std::int64_t{3600} * 1000000000;
    in_child("--gdb: the board's debugger did not open", [&] { return gdb_command(o.gdb); });
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
    power_serial_boards(o.plan.scenario);
    open_debugger(o);
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
