// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Measures the programs against the stand-in and prints a table of figures
// beside their targets; --json FILE also writes them for comparison.
//
//   parley_bench --bin DIR [--armhf-bin DIR] [--json FILE] [--cycles N]
//                [--examples DIR --sketch-dir DIR] (and the sketches' options)

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

// One cycle's sleeps: two bytes on the wire at 5 kHz, then parley's two pauses.
constexpr double wire_ms = 3.2;
constexpr double transfer_pause_ms = 10;
constexpr double reply_pause_ms = 500;
constexpr double floor_ms = wire_ms + transfer_pause_ms + reply_pause_ms;
// Fewer periods than this, and their p99 is only their maximum.
constexpr int min_cycles = 20;

struct Figure {
    std::string key;
    std::string label;
    double value;
    std::string unit;
    double target = NAN;   // NAN when there is none
    bool at_least = false; // the target is a floor, not a ceiling
};
using Figures = std::vector<Figure>;

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double median(const std::vector<double> &v)
{
    return percentile(v, 50);
}

double cpu_ms(const rusage &u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double thread_cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A run of a built program without the call log, whose writes would count in the figures.
harness::ProgramRun unlogged(const harness::Sandbox &box, const std::string &name)
{
    return box.program(name).without_env("WPISIM_LOG");
}

// A measured run that did not end as it should, in one line.
std::runtime_error failed(const std::string &program, const harness::Outcome &r)
{
    return std::runtime_error(program + ": a measured run failed: status " +
                              std::to_string(r.status) + " " + r.err.substr(0, r.err.find('\n')));
}

struct Loop {
    std::vector<double> periods; // ms
    double cpu_ms = 0;
    long rss_kib = 0;
};

// The same sleeps as a cycle, with nothing else: the floor the system gives.
Loop bare_loop(int cycles)
{
    Loop loop;
    const double cpu0 = thread_cpu_ms();
    std::int64_t last = harness::now_ns();
    for (int i = 0; i < cycles; ++i) {
        for (const double ms : {wire_ms, transfer_pause_ms, reply_pause_ms}) {
            const timespec ts{0, static_cast<long>(ms * 1e6)};
            nanosleep(&ts, nullptr);
        }
        const std::int64_t t = harness::now_ns();
        loop.periods.push_back(static_cast<double>(t - last) / 1e6);
        last = t;
    }
    loop.cpu_ms = thread_cpu_ms() - cpu0;
    return loop;
}

// parley against the scripted peer for the given number of cycles: each period
// runs from one reply line's arrival to the next, as a reader sees them.
Loop parley_loop(const harness::Sandbox &box, int cycles)
{
    std::vector<std::string> replies(static_cast<std::size_t>(cycles - 1), "w0");
    replies.emplace_back("i0");
    const harness::Outcome r = unlogged(box, "parley")
                                   .input("ab\n")
                                   .env("WPISIM_REPLIES", harness::script(replies))
                                   .timeout_ms(cycles * 1000 + 10000)
                                   .run();
    if (!r.exited || r.status != 0)
        throw failed("parley", r);
    Loop loop;
    const std::vector<std::int64_t> lines = harness::reply_ns(r);
    for (std::size_t i = 1; i < lines.size(); ++i)
        loop.periods.push_back(static_cast<double>(lines[i] - lines[i - 1]) / 1e6);
    loop.cpu_ms = cpu_ms(r.usage);
    loop.rss_kib = r.usage.ru_maxrss;
    return loop;
}

Figures measure_cycles(const harness::Sandbox &box, int cycles)
{
    auto side = std::async(std::launch::async, bare_loop, cycles);
    const Loop run = parley_loop(box, cycles + 1);
    const Loop bare = side.get();
    // A one-cycle run gives what starting and stopping cost, to take off.
    const Loop once = parley_loop(box, 1);
    const double cpu_us = (run.cpu_ms - once.cpu_ms) * 1e3 / cycles;
    const double bare_cpu_us = bare.cpu_ms * 1e3 / cycles;
    const double over = median(run.periods) - floor_ms;
    const double bare_over = median(bare.periods) - floor_ms;
    std::ostringstream over_label;
    over_label << "parley overhead above " << floor_ms << " ms, median";
    return {
        {"cycle_count", "parley cycles measured", static_cast<double>(run.periods.size()), ""},
        {"cycle_median_ms", "parley cycle period, median", median(run.periods), "ms"},
        {"cycle_p99_ms", "parley cycle period, p99", percentile(run.periods, 99), "ms"},
        {"cycle_max_ms", "parley cycle period, max", percentile(run.periods, 100), "ms"},
        {"cycle_overhead_ms", over_label.str(), over, "ms"},
        {"bare_overhead_ms", "bare loop of the same sleeps, overhead", bare_over, "ms"},
        {"overhead_vs_bare_ms", "parley overhead minus bare loop's", over - bare_over, "ms", 0.1},
        {"cpu_per_cycle_us", "parley CPU time per cycle", cpu_us, "us"},
        {"bare_cpu_us", "bare loop CPU time per cycle", bare_cpu_us, "us"},
        // A sleep's own CPU cost is the machine's, so parley is judged above the bare loop's.
        {"cpu_vs_bare_us", "parley CPU per cycle minus bare loop's", cpu_us - bare_cpu_us, "us",
         50},
        {"rss_parley_kib", "parley peak RSS", static_cast<double>(run.rss_kib), "KiB", 4096},
    };
}

// Start-up, beside /bin/true's: parley to its first prompt, the switches to
// their end, interleaved so that all see the same machine.
Figures measure_starts(const harness::Sandbox &box, int runs)
{
    const auto first_byte = [](const std::string &out) { return !out.empty(); };
    const std::vector<harness::ProgramRun> programs{
        unlogged(box, "parley")
            .env("WPISIM_REPLIES", harness::script({"i0"}))
            .signal_when(first_byte, SIGKILL),
        unlogged(box, "allumer"), unlogged(box, "eteindre"), harness::ProgramRun({"/bin/true"})};
    std::vector<std::vector<double>> wall(programs.size());
    std::vector<long> rss(programs.size(), 0);
    for (int i = 0; i < runs; ++i) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            const harness::Outcome r = programs[p].run();
            const std::int64_t end_ns = p == 0 ? r.arrived_ns(0) : r.end_ns;
            if (end_ns == 0 || (p > 0 && (!r.exited || r.status != 0)))
                throw failed(p == 0 ? "parley" : "a switch", r);
            wall[p].push_back(static_cast<double>(end_ns - r.start_ns) / 1e6);
            rss[p] = std::max(rss[p], r.usage.ru_maxrss);
        }
    }
    const double base = median(wall[3]);
    return {
        {"first_prompt_ms", "start to first prompt, median", median(wall[0]), "ms"},
        {"first_prompt_max_ms", "start to first prompt, max", percentile(wall[0], 100), "ms"},
        {"first_prompt_ratio", "start to first prompt / /bin/true", median(wall[0]) / base, "x", 2},
        {"true_ms", "/bin/true wall time, median", base, "ms"},
        {"allumer_ms", "allumer wall time, median", median(wall[1]), "ms"},
        {"eteindre_ms", "eteindre wall time, median", median(wall[2]), "ms"},
        {"allumer_ratio", "allumer wall time / /bin/true", median(wall[1]) / base, "x", 2},
        {"eteindre_ratio", "eteindre wall time / /bin/true", median(wall[2]) / base, "x", 2},
        {"rss_allumer_kib", "allumer peak RSS", static_cast<double>(rss[1]), "KiB", 4096},
        {"rss_eteindre_kib", "eteindre peak RSS", static_cast<double>(rss[2]), "KiB", 4096},
    };
}

// "name value" lines, as the bench's own programs print them.
std::map<std::string, double> named_values(const std::string &out)
{
    std::map<std::string, double> values;
    std::istringstream in(out);
    std::string name;
    double value = 0;
    while (in >> name >> value)
        values[name] = value;
    return values;
}

// One call of the stand-in in host time, beside a volatile store, and what
// each costs on the virtual clock.
Figures measure_calls(const harness::Sandbox &box)
{
    const harness::Outcome host = unlogged(box, "bench_gpio_calls").args({"host"}).run();
    const harness::Outcome sim =
        unlogged(box, "bench_gpio_calls").args({"virtual"}).env("WPISIM_TIME", "virtual").run();
    if (!host.exited || host.status != 0)
        throw failed("bench_gpio_calls host", host);
    if (!sim.exited || sim.status != 0)
        throw failed("bench_gpio_calls virtual", sim);
    auto v = named_values(host.out);
    const auto w = named_values(sim.out);
    v.insert(w.begin(), w.end());
    const auto at = [&](const std::string &key) {
        const auto it = v.find(key);
        return it == v.end() ? NAN : it->second;
    };
    const double million_ms = at("million_writes_ms");
    return {
        {"call_write_ns", "digitalWrite, host time per call, median", at("host_digital_write_ns"),
         "ns"},
        {"call_read_ns", "digitalRead, host time per call, median", at("host_digital_read_ns"),
         "ns"},
        {"call_millis_ns", "millis, host time per call, median", at("host_millis_ns"), "ns"},
        {"call_store_ns", "volatile int store, host time, median", at("host_volatile_store_ns"),
         "ns"},
        {"million_writes_ms", "1,000,000 digitalWrite calls, wall time", million_ms, "ms"},
        {"million_writes_per_call_us", "1,000,000 digitalWrite calls, per call", million_ms / 1e3,
         "us", 1},
        {"virtual_write_ns", "digitalWrite on the virtual clock", at("virtual_digital_write_ns"),
         "ns"},
        {"virtual_read_ns", "digitalRead on the virtual clock", at("virtual_digital_read_ns"),
         "ns"},
        {"virtual_millis_ns", "millis on the virtual clock", at("virtual_millis_ns"), "ns"},
        {"virtual_delay_ms", "delay(10) on the virtual clock", at("virtual_delay_10_ms"), "ms"},
        {"virtual_isr_ms", "wiringPiISR on the virtual clock", at("virtual_isr_setup_ms"), "ms"},
    };
}

// From starting `wpisim pin GPIO low` to the handler's call in a program
// waiting on that edge with wiringPiISR, in wall time; and what the wpisim
// run itself takes, start to exit, for comparison.
Figures measure_isr(const harness::Sandbox &box, int edges)
{
    const std::string ready = box.dir() + "/isr-ready";
    auto waiting = std::async(std::launch::async, [&] {
        return unlogged(box, "bench_isr_latency")
            .args({std::to_string(edges), ready})
            .timeout_ms(90000)
            .run();
    });
    const std::int64_t give_up = harness::now_ns() + 20000 * harness::ms;
    while (!std::filesystem::exists(ready) && harness::now_ns() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::int64_t> driven;
    std::vector<double> runs;
    for (int i = 0; i < edges && std::filesystem::exists(ready); ++i) {
        const harness::Outcome low = box.program("wpisim").args({"pin", "22", "low"}).run();
        driven.push_back(low.start_ns);
        runs.push_back(static_cast<double>(low.end_ns - low.start_ns) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        box.program("wpisim").args({"pin", "22", "float"}).run();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const harness::Outcome r = waiting.get();
    if (!r.exited || r.status != 0)
        throw failed("bench_isr_latency", r);
    std::vector<double> latency;
    std::istringstream in(r.out);
    std::int64_t seen = 0;
    for (std::size_t i = 0; in >> seen && i < driven.size(); ++i)
        latency.push_back(static_cast<double>(seen - driven[i]) / 1e6);
    if (latency.size() != driven.size())
        throw failed("bench_isr_latency: edges missed", r);
    return {
        {"isr_edges", "edges driven by wpisim pin", static_cast<double>(latency.size()), ""},
        {"isr_latency_ms", "wpisim pin start to ISR call, median", median(latency), "ms"},
        {"isr_latency_max_ms", "wpisim pin start to ISR call, max", percentile(latency, 100), "ms"},
        {"isr_wpisim_run_ms", "wpisim pin run, start to exit, median", median(runs), "ms"},
    };
}

// Host CPU time the simulated board costs per exchange, as the stand-in logs it.
Figures measure_board(const harness::Sandbox &box, int runs)
{
    for (int i = 0; i < runs; ++i)
        box.program("parley").env("WPISIM_PEER", "board").input("ac\n").run();
    const std::vector<harness::Call> calls = box.calls();
    const auto peer_ms = [&](const std::string &event) {
        std::vector<double> times;
        for (const harness::Call &c : harness::only(calls, event))
            if (c.fields.count("peer_cpu_ns") > 0)
                times.push_back(static_cast<double>(c.num("peer_cpu_ns")) / 1e6);
        return times;
    };
    const std::vector<double> cost = peer_ms("spi-transfer");
    const std::vector<double> boot = peer_ms("spi-setup");
    if (cost.empty()) {
        std::printf("(simulated board not built: no exchange figures)\n");
        return {};
    }
    return {
        {"board_exchanges", "simulated exchanges measured", static_cast<double>(cost.size()), ""},
        {"board_exchange_ms", "host time per simulated exchange, median", median(cost), "ms", 1},
        {"board_exchange_max_ms", "host time per simulated exchange, max", percentile(cost, 100),
         "ms"},
        {"board_boot_ms", "simulated board link at set-up, median", median(boot), "ms"},
    };
}

// Host CPU time a process has used, from /proc, in seconds.
double process_cpu_s(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    double user = 0;
    double system = 0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A sketch whose loop() never sleeps, as a user's: parley's cycle against it
// in wall time, and how fast the board process simulates it.
Figures measure_busy_sketch(const harness::Sandbox &box, const std::string &sketch, int cycles)
{
    if (sketch.empty())
        return {};
    box.program("parley")
        .env("WPISIM_FIRMWARE", sketch)
        .env("WPISIM_BOARD_RESET", "1")
        .input("ac\n")
        .signal_when(harness::after_replies(1), SIGINT)
        .run();
    const auto links = harness::only(box.calls(), "board-link");
    if (links.empty())
        throw std::runtime_error("the busy sketch's board did not start");
    const long board = static_cast<long>(links.back().num("board_pid"));
    const std::size_t seen = harness::only(box.calls(), "board").size();
    const double cpu_before = process_cpu_s(board);
    const harness::Outcome r =
        box.program("parley")
            .env("WPISIM_FIRMWARE", sketch)
            .input("ac\n")
            .signal_when(harness::after_replies(static_cast<std::size_t>(cycles) + 1), SIGINT)
            .timeout_ms(cycles * 1000 + 10000)
            .run();
    const double cpu = process_cpu_s(board) - cpu_before;
    const std::vector<std::int64_t> lines = harness::reply_ns(r);
    std::vector<double> periods;
    for (std::size_t i = 1; i < lines.size(); ++i)
        periods.push_back(static_cast<double>(lines[i] - lines[i - 1]) / 1e6);
    const auto boards = harness::only(box.calls(), "board");
    if (periods.empty() || boards.size() < seen + 2)
        throw failed("parley against the busy sketch", r);
    const harness::Call &first = boards[seen];
    const harness::Call &last = boards.back();
    const double simulated_s = static_cast<double>(last.num("cycle") - first.num("cycle")) /
                               static_cast<double>(last.num("hz"));
    return {
        {"busy_cycle_median_ms", "parley cycle period against a busy sketch, median",
         median(periods), "ms", 514},
        {"busy_cycle_max_ms", "parley cycle period against a busy sketch, max",
         percentile(periods, 100), "ms"},
        {"busy_simulation_speed", "busy 16 MHz sketch: simulated s per host CPU s",
         cpu > 0 ? simulated_s / cpu : 0, ""},
    };
}

// One register read over I2C against a Wire sketch, on the virtual clock:
// the host time it costs, the board process's simulation included, and its
// time on the bus.
Figures measure_i2c(const harness::Sandbox &box, const std::string &sketch)
{
    if (sketch.empty())
        return {};
    const harness::Outcome r = unlogged(box, "bench_i2c_reads")
                                   .env("WPISIM_TIME", "virtual")
                                   .env("WPISIM_FIRMWARE", sketch)
                                   .env("WPISIM_BOARD_RESET", "1")
                                   .timeout_ms(120000)
                                   .run();
    if (!r.exited || r.status != 0)
        throw failed("bench_i2c_reads", r);
    const auto v = named_values(r.out);
    const auto at = [&](const std::string &key) {
        const auto it = v.find(key);
        return it == v.end() ? NAN : it->second;
    };
    return {
        {"i2c_read_reg8_host_us", "wiringPiI2CReadReg8 of a Wire sketch, host time, median",
         at("host_i2c_read_reg8_us"), "us"},
        {"i2c_read_reg8_bus_us", "wiringPiI2CReadReg8 of a Wire sketch, time on the bus",
         at("bus_i2c_read_reg8_us"), "us"},
    };
}

// wpisim run of the reference conversation (parley against the reference
// firmware, `a` and `c` typed at its prompts, until the board says i3): its
// wall time on the virtual clock beside the same run with --wall, which
// takes the conversation's own 1.5 s.
Figures measure_run(const harness::Sandbox &box, int rounds)
{
    const std::string prompts = harness::prompts;
    const std::size_t first = prompts.find('\n');
    const std::string scenario = box.dir() + "/conversation.scenario.toml";
    std::ofstream(scenario) << "timeout = \"10s\"\n"
                            << "[[step]]\noutput = \"" << prompts.substr(0, first) << "\"\n"
                            << "[[step]]\ntype = \"a\\n\"\n"
                            << "[[step]]\noutput = \""
                            << prompts.substr(first + 1, prompts.size() - first - 2) << "\"\n"
                            << "[[step]]\ntype = \"c\\n\"\n"
                            << "[[step]]\noutput = \"" << harness::reply_tag
                            << "i3\"\nwithin = \"5s\"\n"
                            << "[[step]]\nexit = 0\n";
    // The bench's one board on the firmware this build made.
    const std::string bench = box.dir() + "/conversation.toml";
    std::ofstream(bench) << "[pi]\n[[board]]\nname = \"uno\"\nspi = \"ce0\"\n";
    const auto run = [&](bool wall) {
        std::vector<std::string> args = {"run", "--bench", bench, "--scenario", scenario};
        if (wall)
            args.emplace_back("--wall");
        args.emplace_back("--");
        for (const std::string &word : box.command("parley"))
            args.push_back(word);
        const harness::Outcome r = unlogged(box, "wpisim").args(args).timeout_ms(30000).run();
        if (!r.exited || r.status != 0)
            throw failed("wpisim run of parley", r);
        return static_cast<double>(r.end_ns - r.start_ns) / 1e6;
    };
    std::vector<double> simulated;
    std::vector<double> wall;
    // Interleaved, so that both see the same machine.
    for (int i = 0; i < rounds; ++i) {
        wall.push_back(run(true));
        for (int j = 0; j < 7; ++j)
            simulated.push_back(run(false));
    }
    return {
        {"run_virtual_ms", "wpisim run of the conversation, virtual clock, median",
         median(simulated), "ms"},
        {"run_wall_ms", "wpisim run of the conversation, --wall, median", median(wall), "ms"},
        {"run_speedup", "wpisim run of the conversation: --wall / virtual",
         median(wall) / median(simulated), "x", 20, true},
    };
}

// two_boards' bench with each board's sketch named in it: --firmware names
// only the first board's.
std::string two_boards_bench(const harness::Sandbox &box, const std::string &examples,
                             const std::string &sketches)
{
    std::string path = box.dir() + "/two_boards.toml";
    const std::map<std::string, std::string> firmware = {
        {"name = \"upper\"", sketches + "/spi_upper_uno.hex"},
        {"name = \"lower\"", sketches + "/spi_lower_mega.elf"}};
    std::ifstream in(examples + "/two_boards.toml");
    std::ofstream out(path);
    std::string line;
    while (std::getline(in, line)) {
        out << line << "\n";
        if (firmware.count(line) > 0)
            out << "firmware = \"" << firmware.at(line) << "\"\n";
    }
    return path;
}

// wpisim run of an example's scenario, on its bench with its sketch if it has them.
harness::ProgramRun example_run(const harness::Sandbox &box, const std::string &examples,
                                const std::string &sketches, const std::string &name)
{
    // The sketch each one-board bench example's board runs.
    const std::map<std::string, std::string> firmware = {
        {"pin_echo", "pin_echo_uno.elf"},
        {"serial_upper", "serial_upper_uno.hex"},
        {"i2c_registers", "i2c_registers_uno.hex"}};
    std::vector<std::string> args = {"run", "--scenario", examples + "/" + name + ".scenario.toml"};
    if (name == "two_boards")
        args.insert(args.end(), {"--bench", two_boards_bench(box, examples, sketches)});
    else if (std::filesystem::exists(examples + "/" + name + ".toml"))
        args.insert(args.end(), {"--bench", examples + "/" + name + ".toml"});
    if (firmware.count(name) > 0)
        args.insert(args.end(), {"--firmware", sketches + "/" + firmware.at(name)});
    args.emplace_back("--");
    for (const std::string &word : box.command(name))
        args.push_back(word);
    harness::ProgramRun run = unlogged(box, "wpisim").args(args).timeout_ms(60000);
    if (name == "spi_mode3")
        run.env("WPISIM_PEER", "loopback");
    return run;
}

// Every example's scenario through wpisim run, one after another, as a CI
// job would run them: the whole set's wall time, and how many runs did not
// pass. Each bench example's board gets its sketch, from the tests' build.
Figures measure_examples(const std::string &bin, const std::string &examples,
                         const std::string &sketches, int rounds)
{
    if (examples.empty() || sketches.empty())
        return {};
    const harness::Sandbox box(bin);
    const std::vector<std::string> names = {
        "blink",     "button",   "interrupt_counter", "timing",        "pwm",
        "spi_mode3", "pin_echo", "serial_upper",      "i2c_registers", "two_boards"};
    std::vector<harness::ProgramRun> runs;
    runs.reserve(names.size());
    for (const std::string &name : names)
        runs.push_back(example_run(box, examples, sketches, name));
    std::vector<double> sets;
    int not_passed = 0;
    for (int i = 0; i < rounds; ++i) {
        const std::int64_t start = harness::now_ns();
        for (std::size_t n = 0; n < names.size(); ++n) {
            const std::string &name = names[n];
            const harness::Outcome r = runs[n].run();
            if (!r.exited || r.status != 0) {
                ++not_passed;
                // Its verdict, the last line wpisim run writes.
                std::string verdict = r.err.substr(0, r.err.find_last_not_of('\n') + 1);
                verdict = verdict.substr(verdict.rfind('\n') + 1);
                std::printf("(%s's scenario did not pass: %s)\n", name.c_str(), verdict.c_str());
            }
        }
        sets.push_back(static_cast<double>(harness::now_ns() - start) / 1e6);
    }
    return {
        {"examples_runs", "example scenarios through wpisim run", static_cast<double>(names.size()),
         ""},
        {"examples_set_ms", "all example scenarios, wall time, median", median(sets), "ms"},
        {"examples_set_max_ms", "all example scenarios, wall time, max", percentile(sets, 100),
         "ms"},
        {"examples_not_passed",
         "example scenario runs that did not pass, of " +
             std::to_string(names.size() * static_cast<std::size_t>(rounds)),
         static_cast<double>(not_passed), ""},
    };
}

// Sizes after strip, for the host build and the armhf one if there is one.
Figures measure_sizes(const std::string &bin, const std::string &armhf_bin, const std::string &dir)
{
    using Build = std::array<std::string, 3>; // name, folder, strip tool
    Figures figures;
    const std::string copy = dir + "/stripped";
    for (const Build &b :
         {Build{"host", bin, "strip"}, Build{"armhf", armhf_bin, "arm-linux-gnueabihf-strip"}}) {
        for (const std::string name : {"parley", "allumer", "eteindre"}) {
            if (b[1].empty())
                break;
            const harness::ProgramRun strip({"/usr/bin/env", b[2], "-o", copy, b[1] + "/" + name});
            const bool stripped = strip.run().status == 0;
            std::error_code error;
            const auto size = std::filesystem::file_size(copy, error);
            std::filesystem::remove(copy, error);
            if (stripped && !error)
                figures.push_back({"size_" + b[0] + "_" + name,
                                   "stripped size, " + b[0] + ", " + name,
                                   static_cast<double>(size) / 1024.0, "KiB"});
        }
    }
    return figures;
}

std::string machine()
{
    std::string model;
    std::ifstream cpu("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpu, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores";
}

void print_table(const Figures &figures)
{
    std::printf("%-44s %12s  %-10s %s\n", "figure", "value", "target", "");
    for (const Figure &f : figures) {
        char target[32] = "";
        const char *verdict = "";
        if (!std::isnan(f.target)) {
            std::snprintf(target, sizeof target, "%s %g %s", f.at_least ? ">=" : "<=", f.target,
                          f.unit.c_str());
            const bool met = f.at_least ? f.value >= f.target : f.value <= f.target;
            verdict = met ? "ok" : "MISSED";
        }
        std::printf("%-44s %9.3f %-3s %-10s %s\n", f.label.c_str(), f.value, f.unit.c_str(), target,
                    verdict);
    }
}

// Quoted for JSON: quotes, backslashes and control characters as \u escapes.
std::string json_string(const std::string &text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        char escape[8] = {c, '\0'};
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
        quoted += escape;
    }
    return quoted + '"';
}

void write_json(const Figures &figures, const std::string &path)
{
    // A figure that could not be measured is null: JSON has no NaN.
    const auto number = [](double value) {
        std::ostringstream text;
        text << value;
        return std::isfinite(value) ? text.str() : "null";
    };
    std::ofstream out(path);
    out << "{\n  \"machine\": " << json_string(machine()) << ",\n  \"figures\": {\n";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure &f = figures[i];
        out << "    " << json_string(f.key) << ": {\"label\": " << json_string(f.label)
            << ", \"value\": " << number(f.value) << ", \"unit\": " << json_string(f.unit);
        if (!std::isnan(f.target))
            out << ", \"target\": " << number(f.target)
                << (f.at_least ? ", \"at_least\": true" : "");
        out << "}" << (i + 1 < figures.size() ? "," : "") << "\n";
    }
    out << "  }\n}\n";
    if (!out.flush())
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

[[noreturn]] void usage_error(const std::string &why)
{
    std::fprintf(stderr,
                 "parley_bench: %s\nusage: parley_bench --bin DIR [--armhf-bin DIR] "
                 "[--json FILE] [--cycles N] [--busy-sketch HEX] [--serial-sketch HEX] "
                 "[--wired-sketch FILE] [--i2c-sketch HEX] [--examples DIR --sketch-dir DIR]\n",
                 why.c_str());
    std::exit(2);
}

int cycles_from(const std::string &text)
{
    char *end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10); // out of range: LONG_MIN or LONG_MAX
    if (end == text.c_str() || *end != '\0' || n < min_cycles || n > 100000)
        usage_error("--cycles " + text + ": not a whole number from " + std::to_string(min_cycles) +
                    " to 100000 (fewer, and the p99 is only the maximum)");
    return static_cast<int>(n);
}

// Serial at 115200 both ways for some seconds of wall time against a sketch
// that echoes at the same rate: what came back, and the echoes' steady pace
// against the line's 11520 bytes a second (8N1).
Figures measure_serial(const harness::Sandbox &box, const std::string &sketch, int seconds)
{
    if (sketch.empty())
        return {};
    const harness::Outcome r = unlogged(box, "bench_serial_stream")
                                   .args({"115200", std::to_string(seconds)})
                                   .env("WPISIM_FIRMWARE", sketch)
                                   .timeout_ms((seconds + 60) * 1000)
                                   .run();
    if (!r.exited || r.status != 0)
        throw failed("bench_serial_stream", r);
    std::istringstream in(r.out);
    double sent = 0;
    double received = 0;
    double wrong = 0;
    double steady = 0;
    if (!(in >> sent >> received >> wrong >> steady) || steady <= 0)
        throw failed("bench_serial_stream: no figures", r);
    const double line_bytes_per_s = 115200.0 / 10;
    return {
        {"serial_sent", "serial 115200: bytes written in 10 s", sent, ""},
        {"serial_lost", "serial 115200: bytes not echoed, or wrong", sent - received + wrong, ""},
        {"serial_pace", "serial 115200: steady echo rate / line's", steady / line_bytes_per_s, "x"},
    };
}

// A digitalRead of a GPIO a board drives, in wall time: each runs the board
// to now first. The board on the pin_echo sketch, its D4 wired to GPIO 22.
Figures measure_wired(const harness::Sandbox &box, const std::string &sketch)
{
    if (sketch.empty())
        return {};
    const std::string bench = box.dir() + "/wired.toml";
    std::ofstream(bench) << "[pi]\ntime = \"wall\"\n[[board]]\nname = \"uno\"\nfirmware = \""
                         << sketch << "\"\nspi = \"ce0\"\n[[wire]]\npi = 22\npin = \"D4\"\n"
                         << "divider = true\n";
    const harness::Outcome r = unlogged(box, "bench_wired_read")
                                   .args({"22", "5000"})
                                   .env("WPISIM_BENCH", bench)
                                   .timeout_ms(120000)
                                   .run();
    if (!r.exited || r.status != 0)
        throw failed("bench_wired_read", r);
    const auto v = named_values(r.out);
    const auto at = [&](const std::string &key) {
        const auto it = v.find(key);
        return it == v.end() ? NAN : it->second / 1e3;
    };
    return {
        {"wired_read_us", "digitalRead of a board-driven GPIO, host time, median",
         at("wired_read_ns"), "us", 50},
        {"wired_read_max_us", "digitalRead of a board-driven GPIO, host time, max",
         at("wired_read_max_ns"), "us"},
    };
}

// The board process's CPU per simulated second with two boards, each running
// a sketch that never sleeps, against one: boards of one bench share the one
// process and clock, so the cost should add up, no more.
Figures measure_two_boards(const std::string &bin, const std::string &sketch)
{
    if (sketch.empty())
        return {};
    constexpr int simulated_ms = 2000;
    double per_s[2] = {};
    for (int boards = 1; boards <= 2; ++boards) {
        const harness::Sandbox box(bin);
        const std::string bench = box.dir() + "/boards.toml";
        std::ofstream file(bench);
        file << "[pi]\ntime = \"virtual\"\n";
        for (int b = 0; b < boards; ++b)
            file << "[[board]]\nname = \"b" << b << "\"\nfirmware = \"" << sketch
                 << "\"\nspi = \"ce" << b << "\"\n";
        file << "[[wire]]\npi = 22\nboard = \"b0\"\npin = \"D4\"\n";
        file.close();
        // A read of the wired GPIO runs every board to the run's time.
        const auto probe = [&](int ms) {
            const harness::Outcome r =
                unlogged(box, "library_probe")
                    .args({"setup", "gpio", "delay", std::to_string(ms), "read", "22"})
                    .env("WPISIM_BENCH", bench)
                    .timeout_ms(120000)
                    .run();
            if (!r.exited || r.status != 0)
                throw failed("library_probe on " + std::to_string(boards) + " boards", r);
        };
        probe(1);
        const auto s = box.program("wpisim").args({"status"}).env("WPISIM_BENCH", bench).run();
        const auto at = s.out.find("board process: ");
        if (at == std::string::npos)
            throw failed("wpisim status", s);
        const long pid = std::strtol(s.out.c_str() + at + 15, nullptr, 10);
        const double before = process_cpu_s(pid);
        probe(simulated_ms);
        per_s[boards - 1] = (process_cpu_s(pid) - before) * 1000.0 / simulated_ms;
    }
    return {
        {"one_board_cpu_per_s", "one busy board: host CPU s per simulated s", per_s[0], "s"},
        {"two_boards_cpu_per_s", "two busy boards: host CPU s per simulated s", per_s[1], "s"},
        {"two_boards_ratio", "two busy boards' CPU / one's", per_s[1] / per_s[0], "x", 2.1},
    };
}

struct Options {
    std::string bin;
    std::string armhf_bin;
    std::string json;
    std::string busy_sketch;
    std::string serial_sketch;
    std::string wired_sketch;
    std::string i2c_sketch;
    std::string examples;
    std::string sketch_dir;
    int cycles = 24;
};

Options parse_options(int argc, char **argv)
{
    Options o;
    // Each option that takes a value, and where it goes.
    const std::pair<const char *, std::string Options::*> valued[] = {
        {"--bin", &Options::bin},
        {"--armhf-bin", &Options::armhf_bin},
        {"--json", &Options::json},
        {"--busy-sketch", &Options::busy_sketch},
        {"--serial-sketch", &Options::serial_sketch},
        {"--wired-sketch", &Options::wired_sketch},
        {"--i2c-sketch", &Options::i2c_sketch},
        {"--examples", &Options::examples},
        {"--sketch-dir", &Options::sketch_dir},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        const auto *const option = std::find_if(std::begin(valued), std::end(valued),
                                                [&](const auto &v) { return arg == v.first; });
        if (option != std::end(valued) && has_value)
            o.*(option->second) = argv[++i];
        else if (arg == "--cycles" && has_value)
            o.cycles = cycles_from(argv[++i]);
        else
            usage_error(arg + ": not an option, or its value is missing");
    }
    if (o.bin.empty())
        usage_error("--bin is required");
    // Bench files name them: from the root, as a file's paths are its folder's.
    for (std::string *sketch : {&o.busy_sketch, &o.wired_sketch, &o.examples, &o.sketch_dir})
        if (!sketch->empty())
            *sketch = std::filesystem::absolute(*sketch).string();
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = parse_options(argc, argv);
    const std::string &bin = o.bin;
    try {
        const harness::Sandbox box(bin);
        std::printf("machine: %s\n", machine().c_str());
        std::fflush(stdout);
        Figures figures;
        for (const Figures &part :
             {measure_cycles(box, o.cycles), measure_starts(box, 200), measure_calls(box),
              measure_isr(box, 50), measure_board(box, 7),
              measure_busy_sketch(box, o.busy_sketch, o.cycles),
              measure_serial(box, o.serial_sketch, 10), measure_wired(box, o.wired_sketch),
              measure_i2c(box, o.i2c_sketch), measure_two_boards(bin, o.busy_sketch),
              measure_run(box, 3), measure_examples(bin, o.examples, o.sketch_dir, 5),
              measure_sizes(bin, o.armhf_bin, box.dir())})
            figures.insert(figures.end(), part.begin(), part.end());
        print_table(figures);
        if (!o.json.empty())
            write_json(figures, o.json);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "parley_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
