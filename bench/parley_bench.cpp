// Measures the programs against the stand-in and prints a table of figures
// beside their targets; --json FILE also writes them for comparison.
//
//   parley_bench --bin DIR [--armhf-bin DIR] [--json FILE] [--cycles N]

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr double floor_ms = 513.2; // 3.2 ms on the wire + 10 ms + 500 ms

std::int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

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

struct Figure {
    std::string key;
    std::string label;
    double value;
    std::string unit;
    double target; // NAN when there is none
};

std::vector<Figure> figures;

void add(const std::string &key, const std::string &label, double value, const std::string &unit,
         double target = NAN)
{
    figures.push_back({key, label, value, unit, target});
}

struct Child {
    pid_t pid = -1;
    int in_fd = -1;  // write end of its standard input
    int out_fd = -1; // read end of its standard output
};

// Starts a program with extra environment, stdin and stdout on pipes.
Child spawn(const std::string &path, const std::vector<std::string> &env)
{
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        std::perror("parley_bench: pipe");
        std::exit(1);
    }
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 2);
        for (const char *own :
             {"WPISIM_LOG", "WPISIM_PEER", "WPISIM_REPLIES", "WPISIM_FIRMWARE",
              "WPISIM_FAIL_SPI_SETUP", "WPISIM_FAIL_GPIO_SETUP", "WPISIM_FAIL_TRANSFER"})
            unsetenv(own);
        for (const std::string &e : env)
            putenv(const_cast<char *>(e.c_str()));
        execl(path.c_str(), path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    c.in_fd = in[1];
    c.out_fd = out[0];
    return c;
}

std::string read_all(int fd)
{
    std::string text;
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(n));
    return text;
}

// Types the operator's input, then ends it.
void feed(Child &c, const std::string &text)
{
    if (write(c.in_fd, text.data(), text.size()) < 0)
        std::perror("parley_bench: write");
    close(c.in_fd);
    c.in_fd = -1;
}

// Runs a command to its end; true when it exited with status 0.
bool run_command(const std::vector<std::string> &argv)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> args;
        args.reserve(argv.size() + 1);
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

struct Finished {
    int status = 0;
    rusage usage{};
};

Finished finish(const Child &c)
{
    Finished f;
    if (c.in_fd >= 0)
        close(c.in_fd);
    if (c.out_fd >= 0)
        close(c.out_fd);
    wait4(c.pid, &f.status, 0, &f.usage);
    return f;
}

double cpu_ms(const rusage &u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// "key=value" fields of the stand-in's log lines for one event.
std::vector<std::string> log_values(const std::string &path, const std::string &event,
                                    const std::string &key)
{
    std::vector<std::string> values;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(event + " ", 0) != 0)
            continue;
        const std::size_t at = line.find(" " + key + "=");
        if (at == std::string::npos)
            continue;
        const std::size_t start = at + key.size() + 2;
        values.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return values;
}

std::string temp_dir()
{
    std::string pattern = "/tmp/parley-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("parley_bench: mkdtemp");
        std::exit(1);
    }
    return pattern;
}

double thread_cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Loop {
    std::vector<double> periods; // ms
    double cpu_ms = 0;
};

// The same three sleeps as a cycle, with nothing else: the floor the system gives.
Loop bare_loop(int cycles)
{
    Loop loop;
    const double cpu0 = thread_cpu_ms();
    std::int64_t last = now_ns();
    for (int i = 0; i < cycles; ++i) {
        for (const long ns : {3200000L, 10000000L, 500000000L}) {
            const timespec ts{0, ns};
            nanosleep(&ts, nullptr);
        }
        const std::int64_t t = now_ns();
        loop.periods.push_back(static_cast<double>(t - last) / 1e6);
        last = t;
    }
    loop.cpu_ms = thread_cpu_ms() - cpu0;
    return loop;
}

// parley against the scripted peer for the given number of cycles, with no
// call log: the cycle is timed by its reply lines' arrival, as a reader sees them.
Loop parley_loop(const std::string &bin, const std::string &dir, int cycles, long *rss_kib)
{
    std::string replies;
    for (int i = 1; i < cycles; ++i)
        replies += "7730 "; // "w0"
    replies += "6930";      // "i0"
    Child c =
        spawn(bin + "/parley", {"WPISIM_REPLIES=" + replies, "WPISIM_STATE_DIR=" + dir + "/gpio"});
    feed(c, "ab\n");

    Loop loop;
    std::vector<std::int64_t> arrivals;
    char chunk[256];
    ssize_t n = 0;
    while ((n = read(c.out_fd, chunk, sizeof chunk)) > 0) {
        const std::int64_t t = now_ns();
        for (ssize_t i = 0; i < n; ++i)
            if (chunk[i] == '\n')
                arrivals.push_back(t);
    }
    const Finished f = finish(c);
    // The first two lines are the prompts.
    for (std::size_t i = 3; i < arrivals.size(); ++i)
        loop.periods.push_back(static_cast<double>(arrivals[i] - arrivals[i - 1]) / 1e6);
    loop.cpu_ms = cpu_ms(f.usage);
    if (rss_kib != nullptr)
        *rss_kib = f.usage.ru_maxrss;
    return loop;
}

void measure_cycles(const std::string &bin, const std::string &dir, int cycles)
{
    Loop bare;
    std::thread side([&] { bare = bare_loop(cycles); });
    long rss = 0;
    const Loop run = parley_loop(bin, dir, cycles + 1, &rss);
    side.join();
    // A one-cycle run gives what starting and stopping cost, to take off.
    const Loop once = parley_loop(bin, dir, 1, nullptr);
    const double cpu_per_cycle_us = (run.cpu_ms - once.cpu_ms) * 1e3 / cycles;
    const double bare_cpu_us = bare.cpu_ms * 1e3 / cycles;

    const double over = median(run.periods) - floor_ms;
    const double bare_over = median(bare.periods) - floor_ms;
    add("cycle_count", "parley cycles measured", static_cast<double>(run.periods.size()), "");
    add("cycle_median_ms", "parley cycle period, median", median(run.periods), "ms");
    add("cycle_p99_ms", "parley cycle period, p99", percentile(run.periods, 99), "ms");
    add("cycle_max_ms", "parley cycle period, max", percentile(run.periods, 100), "ms");
    add("cycle_overhead_ms", "parley overhead above 513.2 ms, median", over, "ms");
    add("bare_overhead_ms", "bare loop of the same sleeps, overhead", bare_over, "ms");
    add("overhead_vs_bare_ms", "parley overhead minus bare loop's", over - bare_over, "ms", 0.1);
    add("cpu_per_cycle_us", "parley CPU time per cycle", cpu_per_cycle_us, "us", 50);
    add("bare_cpu_per_cycle_us", "bare loop CPU time per cycle", bare_cpu_us, "us");
    add("cpu_vs_bare_us", "parley CPU per cycle minus bare loop's", cpu_per_cycle_us - bare_cpu_us,
        "us");
    add("rss_parley_kib", "parley peak RSS", static_cast<double>(rss), "KiB", 4096);
}

void measure_first_prompt(const std::string &bin, const std::string &dir, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const std::int64_t t0 = now_ns();
        Child c =
            spawn(bin + "/parley", {"WPISIM_REPLIES=6930", "WPISIM_STATE_DIR=" + dir + "/gpio"});
        char byte = 0;
        if (read(c.out_fd, &byte, 1) == 1)
            times.push_back(static_cast<double>(now_ns() - t0) / 1e6);
        kill(c.pid, SIGKILL);
        finish(c);
    }
    add("first_prompt_ms", "start to first prompt, median", median(times), "ms", 3);
    add("first_prompt_max_ms", "start to first prompt, max", percentile(times, 100), "ms");
}

void measure_switches(const std::string &bin, const std::string &dir, int runs)
{
    const std::vector<std::string> env{"WPISIM_STATE_DIR=" + dir + "/gpio"};
    const std::vector<std::string> programs{bin + "/allumer", bin + "/eteindre", "/bin/true"};
    std::vector<std::vector<double>> wall(programs.size());
    std::vector<long> rss(programs.size(), 0);
    // Interleaved, so all three see the same machine.
    for (int i = 0; i < runs; ++i) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            const std::int64_t t0 = now_ns();
            const Finished f = finish(spawn(programs[p], env));
            wall[p].push_back(static_cast<double>(now_ns() - t0) / 1e6);
            rss[p] = std::max(rss[p], f.usage.ru_maxrss);
        }
    }
    const double base = median(wall[2]);
    add("true_ms", "/bin/true wall time, median", base, "ms");
    add("allumer_ms", "allumer wall time, median", median(wall[0]), "ms");
    add("eteindre_ms", "eteindre wall time, median", median(wall[1]), "ms");
    add("allumer_ratio", "allumer wall time / /bin/true", median(wall[0]) / base, "x", 2);
    add("eteindre_ratio", "eteindre wall time / /bin/true", median(wall[1]) / base, "x", 2);
    add("rss_allumer_kib", "allumer peak RSS", static_cast<double>(rss[0]), "KiB", 4096);
    add("rss_eteindre_kib", "eteindre peak RSS", static_cast<double>(rss[1]), "KiB", 4096);
}

// Host CPU time the simulated board costs per exchange, as the stand-in logs it.
void measure_board(const std::string &bin, const std::string &dir, int runs)
{
    const std::string log = dir + "/board.log";
    for (int i = 0; i < runs; ++i) {
        Child c = spawn(bin + "/parley", {"WPISIM_LOG=" + log, "WPISIM_PEER=board",
                                          "WPISIM_STATE_DIR=" + dir + "/gpio"});
        feed(c, "ac\n");
        read_all(c.out_fd);
        finish(c);
    }
    std::vector<double> cost;
    for (const std::string &v : log_values(log, "spi-transfer", "peer_cpu_ns"))
        cost.push_back(std::stod(v) / 1e6);
    if (cost.empty()) {
        std::printf("(simulated board not built: no exchange figures)\n");
        return;
    }
    std::vector<double> boot;
    for (const std::string &v : log_values(log, "spi-setup", "peer_cpu_ns"))
        boot.push_back(std::stod(v) / 1e6);
    add("board_exchanges", "simulated exchanges measured", static_cast<double>(cost.size()), "");
    add("board_exchange_ms", "host time per simulated exchange, median", median(cost), "ms", 1);
    add("board_exchange_max_ms", "host time per simulated exchange, max", percentile(cost, 100),
        "ms");
    add("board_boot_ms", "simulated board load and boot, median", median(boot), "ms");
}

// Size after strip, or -1 when the program or the strip tool is missing.
double stripped_kib(const std::string &program, const std::string &strip, const std::string &dir)
{
    struct stat st {
    };
    if (stat(program.c_str(), &st) != 0)
        return -1;
    const std::string copy = dir + "/stripped";
    if (!run_command({strip, "-o", copy, program}) || stat(copy.c_str(), &st) != 0)
        return -1;
    unlink(copy.c_str());
    return static_cast<double>(st.st_size) / 1024.0;
}

void measure_sizes(const std::string &bin, const std::string &armhf_bin, const std::string &dir)
{
    for (const char *name : {"parley", "allumer", "eteindre"}) {
        const double host = stripped_kib(bin + "/" + name, "strip", dir);
        if (host >= 0)
            add(std::string("size_host_") + name, std::string("stripped size, host, ") + name, host,
                "KiB");
        if (armhf_bin.empty())
            continue;
        const double arm = stripped_kib(armhf_bin + "/" + name, "arm-linux-gnueabihf-strip", dir);
        if (arm >= 0)
            add(std::string("size_armhf_") + name, std::string("stripped size, armhf, ") + name,
                arm, "KiB");
    }
}

std::string machine()
{
    std::string model;
    std::ifstream cpu("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpu, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores";
}

void print_table()
{
    std::printf("%-44s %12s  %-10s %s\n", "figure", "value", "target", "");
    for (const Figure &f : figures) {
        char target[32] = "";
        const char *verdict = "";
        if (!std::isnan(f.target)) {
            std::snprintf(target, sizeof target, "<= %g %s", f.target, f.unit.c_str());
            verdict = f.value <= f.target ? "ok" : "MISSED";
        }
        std::printf("%-44s %9.3f %-3s %-10s %s\n", f.label.c_str(), f.value, f.unit.c_str(), target,
                    verdict);
    }
}

void write_json(const std::string &path)
{
    std::ofstream out(path);
    out << "{\n"
        << R"(  "machine": ")" << machine() << "\",\n"
        << R"(  "figures": {)"
        << "\n";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure &f = figures[i];
        out << R"(    ")" << f.key << R"(": {"value": )" << f.value << R"(, "unit": ")" << f.unit
            << '"';
        if (!std::isnan(f.target))
            out << R"(, "target": )" << f.target;
        out << "}" << (i + 1 < figures.size() ? "," : "") << "\n";
    }
    out << "  }\n}\n";
}

} // namespace

int main(int argc, char **argv)
{
    std::string bin;
    std::string armhf_bin;
    std::string json;
    int cycles = 24;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--bin" && has_value)
            bin = argv[++i];
        else if (arg == "--armhf-bin" && has_value)
            armhf_bin = argv[++i];
        else if (arg == "--json" && has_value)
            json = argv[++i];
        else if (arg == "--cycles" && has_value)
            cycles = std::max(20, static_cast<int>(std::strtol(argv[++i], nullptr, 10)));
        else {
            std::fprintf(stderr, "usage: parley_bench --bin DIR [--armhf-bin DIR] [--json FILE] "
                                 "[--cycles N]\n");
            return 2;
        }
    }
    if (bin.empty()) {
        std::fprintf(stderr, "parley_bench: --bin is required\n");
        return 2;
    }
    const std::string dir = temp_dir();
    std::printf("machine: %s\n", machine().c_str());
    std::fflush(stdout);
    measure_cycles(bin, dir, cycles);
    measure_first_prompt(bin, dir, 30);
    measure_switches(bin, dir, 200);
    measure_board(bin, dir, 7);
    measure_sizes(bin, armhf_bin, dir);
    print_table();
    if (!json.empty())
        write_json(json);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
