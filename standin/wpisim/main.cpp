// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim: the bench's own command. It flashes the simulated board as avrdude
// flashes a real one, resets it, says how it is, opens its serial port and
// avr-gdb's way in, and shows the simulated Pi's pins as `gpio readall` shows
// a Pi's; it checks and edits the bench file.

#include "bench_clock.hpp"
#include "bench_command.hpp"
#include "bench_file.hpp"
#include "board_client.hpp"
#include "board_kind.hpp"
#include "clock.hpp"
#include "firmware_check.hpp"
#include "firmware_choice.hpp"
#include "flash_command.hpp"
#include "flash_store.hpp"
#include "gdb_command.hpp"
#include "message.hpp"
#include "pi_model.hpp"
#include "pi_pins.hpp"
#include "pin_bank.hpp"
#include "pins.hpp"
#include "run_command.hpp"
#include "settings.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"
#include "this_pi.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

using namespace wpisim;

const char usage_text[] =
    "Usage: wpisim COMMAND\n"
    "The simulated board and Pi behind the wiringPi stand-in, in the state directory\n"
    "($WPISIM_STATE_DIR, else ~/.local/state/wpisim).\n"
    "\n"
    "  flash [--board KIND] [--to BOARD] FILE\n"
    "                              flash Intel HEX or an ELF; it stays until flashed again\n"
    "  flash -p PART -U flash:w:FILE[:i|:e|:a]   the same, in avrdude's words\n"
    "                              (wpisim flash --help)\n"
    "  reset [BOARD]               press the board's reset button\n"
    "  status [BOARD]              the board, its firmware, uptime and outputs\n"
    "  serial [BOARD]              the board's serial port on this terminal (Ctrl-] leaves)\n"
    "  gdb [BOARD] [--port N] [--halt]\n"
    "                              open the board to avr-gdb on localhost:N (1234; 0: any);\n"
    "                              --halt stops it there until avr-gdb lets it go\n"
    "  pins                        the simulated Pi's GPIO pins: mode, level, pull, PWM, wires\n"
    "  pin GPIO high|low|float [--at MS]\n"
    "                              drive a Pi input from outside, as a button would: now,\n"
    "                              or MS ms after the set-up of the run that takes it\n"
    "  run [OPTIONS] [--] PROGRAM [ARG...]\n"
    "                              run a Pi program on a private bench, on the virtual\n"
    "                              clock, and check it: its output, the boards' serial\n"
    "                              ports, the pins, step by step from a scenario file\n"
    "                              (wpisim run --help)\n"
    "  check [FILE]                check the bench file (wpisim.toml, or $WPISIM_BENCH):\n"
    "                              its errors, or the boards and wires it describes\n"
    "  wire [GPIO BOARD:PIN [--divider] | --remove GPIO]\n"
    "                              the bench file's wires; add or remove one\n"
    "\n"
    "KIND: uno (the default), nano, pro-mini, pro-mini-8mhz, mega.\n"
    "BOARD: a board's name in the bench file; the first board when left out.\n"
    "See wpisim(1).\n";

[[noreturn]] void usage_error(const std::string &why)
{
    exit_with("usage", why + " (wpisim --help)");
}

// The board a command names, as its name is in the state files: empty for
// the bench's first.
std::string board_named(const std::vector<std::string> &args, const char *command)
{
    if (args.size() > 1)
        usage_error(std::string(command) + " takes one board's name at most");
    const std::string name = args.empty() ? "" : args[0];
    const BenchBoard *b = bench_board(name);
    if (b == nullptr)
        exit_with(std::string(command) + " " + quoted(name),
                  "not a board of the bench (" + bench_board_names() + ")");
    return state_name(*b);
}

int reset(const std::vector<std::string> &args)
{
    const std::string name = board_named(args, "reset");
    // A board that is off starts from reset, once.
    bool started = false;
    if (name.empty())
        make_board_peer(true, true, &started);
    else
        make_board_peer_of(name, true, &started);
    const auto s = board_status(name);
    std::printf("%s (board process %d)\n", started ? "board started, from reset" : "board reset",
                s ? s->answer.pid : 0);
    return 0;
}

std::string level_text(int value)
{
    if (value == 0)
        return "low";
    if (value == 255)
        return "high";
    return "PWM " + std::to_string(value) + "/255";
}

int status(const std::vector<std::string> &args)
{
    const std::string name = board_named(args, "status");
    const BenchBoard &bench = *bench_board(name);
    const Firmware f = name.empty() ? chosen_firmware() : flashed_firmware(name);
    const auto stored = flashed(name);
    const BoardKind &kind = !name.empty() && bench.kind_given ? *bench.kind : *f.kind;
    if (!name.empty())
        std::printf("board %s, on the bench's %s\n", quoted(name).c_str(),
                    bench.spi.empty() ? "I2C or serial" : bench.spi.c_str());
    std::printf("board: %s (%s at %g MHz)\n", kind.name, kind.part, kind.hz / 1e6);
    // What runs use, first to last: the bench file's firmware for a board
    // but the first, WPISIM_FIRMWARE, the flash, the reference firmware.
    if (!name.empty() && !bench.firmware.empty()) {
        std::printf("firmware: %s, from the bench file\n", quoted(bench.firmware).c_str());
    } else if (name.empty() && setting_text("WPISIM_FIRMWARE")) {
        const std::string why = firmware_problem(f.path, *f.kind);
        std::printf("firmware: %s, for runs with this setting%s%s\n", f.what.c_str(),
                    why.empty() ? "" : ", which refuse it: ", why.c_str());
    }
    if (stored)
        std::printf("flash: %s, flashed %s\n", quoted(stored->name).c_str(),
                    stored->flashed.c_str());
    else
        std::printf("flash: the reference firmware this build made, %s\n",
                    quoted(reference_firmware()).c_str());
    const auto s = board_status(name);
    if (!s) {
        std::printf("board process: off (the next run starts it, from reset)\n");
        return 0;
    }
    if (s->answer.name[0] == '\0') {
        std::printf("board process: %d, without this board (the next run brings it, from "
                    "reset)\n",
                    s->answer.pid);
        return 0;
    }
    const link::BoardReport &r = s->answer.report;
    std::printf("board process: %d, on %s time\n", s->answer.pid,
                s->answer.virtual_time != 0 ? "virtual" : "wall");
    std::printf("uptime: %.3f s simulated since reset\n",
                r.hz > 0 ? static_cast<double>(r.cycle) / static_cast<double>(r.hz) : 0.0);
    std::printf("D5: %s\nD6: %s\n", level_text(r.d5).c_str(), level_text(r.d6).c_str());
    if (r.state != link::board_running)
        std::printf("firmware %s at pc 0x%04x\n",
                    r.state == link::board_stopped ? "stopped" : "crashed",
                    static_cast<unsigned>(r.pc));
    return 0;
}

// Once input has ended, the board's answer is waited for: until it has
// taken every byte typed and then said nothing for quiet_ms; a board that
// takes nothing for stalled_ms gets no more.
constexpr int quiet_ms = 2000;
constexpr int stalled_ms = 5000;

// Between this terminal and the board's until Ctrl-] or the end of input
// and the board's answer to it.
class Relay
{
  public:
    explicit Relay(int fd) : fd_(fd) {}

    // False when typed bytes could not be sent.
    bool run()
    {
        for (;;) {
            pollfd fds[2] = {{input_ && typed_.size() < 4096 ? 0 : -1, POLLIN, 0},
                             {fd_, static_cast<short>(POLLIN | (typed_.empty() ? 0 : POLLOUT)), 0}};
            if (poll(fds, 2, 100) < 0 && errno != EINTR)
                return true;
            if ((fds[1].revents & POLLIN) != 0 && !show())
                return true;
            if ((fds[0].revents & (POLLIN | POLLHUP)) != 0 && !take())
                return true;
            if (!send())
                return false;
            if (!input_ && answered())
                return left() == 0;
        }
    }

  private:
    // What the board sent, on standard output; false once that fails.
    bool show()
    {
        char buffer[512];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0 && write(1, buffer, static_cast<std::size_t>(n)) != n)
            return false;
        if (n > 0)
            news_ns_ = now_ns();
        return true;
    }

    // What was typed; false at Ctrl-].
    bool take()
    {
        char buffer[512];
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n > 0 && std::memchr(buffer, 0x1d, static_cast<std::size_t>(n)) != nullptr)
            return false;
        if (n > 0)
            typed_.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            input_ = false;
        return true;
    }

    // As much of what was typed as the board's terminal takes now.
    bool send()
    {
        if (typed_.empty())
            return true;
        const ssize_t n = write(fd_, typed_.data(), typed_.size());
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        typed_.erase(0, static_cast<std::size_t>(n));
        news_ns_ = now_ns();
        return true;
    }

    // Bytes typed that the board has not read yet.
    int left() const
    {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0)
            queued = 0;
        return queued + static_cast<int>(typed_.size());
    }

    // Once input has ended: the board has taken every byte typed and then
    // said nothing for quiet_ms, or has taken none of the rest for stalled_ms.
    bool answered()
    {
        const int now_left = left();
        if (now_left != last_left_) {
            last_left_ = now_left;
            news_ns_ = now_ns();
        }
        const std::int64_t idle_ms = (now_ns() - news_ns_) / 1000000;
        if (now_left == 0)
            return idle_ms >= quiet_ms;
        if (idle_ms < stalled_ms)
            return false;
        std::fprintf(stderr, "wpisim: serial: %d bytes not sent: the board took none for %d s\n",
                     now_left, stalled_ms / 1000);
        return true;
    }

    int fd_;
    std::string typed_; // read, not yet taken by the board's terminal
    bool input_ = true;
    std::int64_t news_ns_ = now_ns();
    int last_left_ = 0;
};

int serial(const std::vector<std::string> &args)
{
    const std::string name = board_named(args, "serial");
    // Held while the terminal is open, so the board runs and stays powered.
    const auto board = name.empty() ? make_board_peer(true) : make_board_peer_of(name, false);
    const std::string file = state_files::of_board(state_files::board_tty, name);
    const std::string tty = state_dir_path() + "/" + file;
    const std::string what = "serial " + quoted(tty);
    struct stat st {
    };
    if (fstatat(state_dir_fd(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        exit_with(what, std::strerror(errno));
    require_own(st.st_uid, file);
    const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    const int opened = errno;
    const bool terminal_of_ours =
        fd >= 0 && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_uid == geteuid();
    if (fd < 0)
        exit_with(what, std::strerror(opened));
    if (!terminal_of_ours)
        exit_with(what, "not the board's terminal");
    // As picocom does: one program on the port at a time, or each sees half.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        exit_with(what, errno == EWOULDBLOCK ? "in use by another program (picocom, screen or "
                                               "another wpisim serial)"
                                             : std::strerror(errno));
    termios saved{};
    const bool terminal = tcgetattr(0, &saved) == 0;
    if (terminal) {
        termios raw = saved;
        cfmakeraw(&raw);
        tcsetattr(0, TCSANOW, &raw);
        std::fprintf(stderr, "wpisim: the board's serial port, %s; Ctrl-] leaves\r\n", tty.c_str());
    }
    const bool sent = Relay(fd).run();
    if (terminal)
        tcsetattr(0, TCSANOW, &saved);
    close(fd);
    return sent ? 0 : 1;
}

const char *function_name(int fn)
{
    static const char *const names[] = {"IN",   "OUT",  "ALT5", "ALT4",
                                        "ALT0", "ALT1", "ALT2", "ALT3"};
    return names[fn & 7];
}

std::string hertz(double hz)
{
    char text[32];
    if (hz >= 1e6)
        std::snprintf(text, sizeof text, "%.4g MHz", hz / 1e6);
    else if (hz >= 1e3)
        std::snprintf(text, sizeof text, "%.4g kHz", hz / 1e3);
    else
        std::snprintf(text, sizeof text, "%.4g Hz", hz);
    return text;
}

// What a pin sends besides a level: its PWM's or soft PWM's frequency and duty.
std::string wave_text(const gpio::Bank &b, int bcm)
{
    const gpio::Pin &p = b.pins[bcm];
    const std::int32_t pid = p.soft_pid.load();
    char text[64] = {};
    if (pid != 0 && p.function.load() == gpio::fn_output && kill(pid, 0) == 0) {
        const std::uint32_t value = p.soft_value.load();
        const std::uint32_t range = p.soft_range.load();
        if (range != 0)
            std::snprintf(text, sizeof text, "soft %s %.1f%%", hertz(1e4 / range).c_str(),
                          100.0 * value / range);
        else
            std::snprintf(text, sizeof text, "tone %s", value != 0 ? hertz(value).c_str() : "off");
        return text;
    }
    const int channel = gpio::this_pi::pwm_channel(bcm);
    if (channel < 0 || p.function.load() != gpio::this_pi::pwm_function(bcm))
        return "";
    const gpio::Wave w =
        gpio::pwm_wave(b.pwm[channel], gpio::this_pi::pwm_clock_hz(b.clock_divisor.load()));
    std::snprintf(text, sizeof text, "%s %.1f%%%s", hertz(w.hz).c_str(), 100.0 * w.duty,
                  b.pwm[channel].mark_space.load() != 0 ? "" : " bal");
    return text;
}

const char *pull_name(int pull)
{
    return pull == gpio::pull_up ? "up" : pull == gpio::pull_down ? "down" : "off";
}

// The board pin the bench wires to a GPIO: what drives it from there shows
// in the Driven column.
std::string wire_text(int bcm)
{
    const Bench &bench = the_bench();
    for (const BenchWire &w : bench.wires) {
        if (w.gpio != bcm)
            continue;
        std::string named = w.pin;
        for (const BenchBoard &board : bench.boards)
            if (board.name == w.board)
                named = board_pin_name(*board.kind, w.board_pin);
        return (w.board + " " + named + (w.divider ? " /div" : "")).substr(0, 18);
    }
    return "";
}

int pins()
{
    gpio::Bank &b = gpio::pins_bank("pins");
    const std::int64_t now = bench_clock_reading();
    const char *const rule =
        " +-----+-----+---------+------+---+------+--------+--------------------"
        "+--------------------+----------+\n";
    std::printf("%s", rule);
    std::printf(" | BCM | wPi |  Name   | Mode | V | Pull | Driven | PWM                | Wire     "
                "          | Physical |\n");
    std::printf("%s", rule);
    // The header's GPIO pins, in wiringPi's order, as gpio readall lists them.
    std::vector<pi::HeaderPin> rows;
    for (const pi::HeaderPin &h : pi::header(pi::model()))
        if (h.bcm != pi::no_gpio && h.bcm < gpio::gpio_count)
            rows.push_back(h);
    std::sort(rows.begin(), rows.end(),
              [](const pi::HeaderPin &x, const pi::HeaderPin &y) { return x.wpi < y.wpi; });
    for (const pi::HeaderPin &h : rows) {
        const gpio::Pin &p = b.pins[h.bcm];
        const int drive = p.drive.load();
        std::printf(" | %3d | %3d | %-7s | %-4s | %d | %-4s | %-6s | %-18s | %-18s |    %2d    |\n",
                    h.bcm, h.wpi, h.name, function_name(p.function.load()),
                    gpio::level_of(b, h.bcm, now), pull_name(p.pull.load()),
                    drive == gpio::drive_high  ? "high"
                    : drive == gpio::drive_low ? "low"
                                               : "",
                    wave_text(b, h.bcm).c_str(), wire_text(h.bcm).c_str(), h.physical);
    }
    std::printf("%s", rule);
    return 0;
}

// wpisim pin GPIO high|low|float [--at MS]: a button or another circuit on a Pi input.
int pin(const std::vector<std::string> &args)
{
    if (args.size() != 2 && !(args.size() == 4 && args[2] == "--at"))
        usage_error("pin takes GPIO high|low|float [--at MS]");
    const int lines = gpio::this_pi::gpio_lines();
    const auto bcm = decimal(args[0], 0, static_cast<std::uint64_t>(lines - 1));
    if (!bcm)
        usage_error("pin " + quoted(args[0]) + ": not a GPIO of a " + gpio::this_pi::word() +
                    " (0 to " + std::to_string(lines - 1) + ")");
    const std::string &word = args[1];
    int drive = -1;
    if (word == "high")
        drive = gpio::drive_high;
    else if (word == "low")
        drive = gpio::drive_low;
    else if (word == "float")
        drive = gpio::drive_none;
    else
        usage_error("pin " + args[0] + " " + quoted(word) + ": not high, low or float");
    gpio::Bank &b = gpio::pins_bank("pin");
    const int g = static_cast<int>(*bcm);
    if (args.size() == 4) {
        const auto ms = decimal(args[3], 0, 1000000000);
        if (!ms)
            usage_error("pin --at " + quoted(args[3]) + ": not a number of milliseconds");
        if (!gpio::schedule(b, g, drive, static_cast<std::int64_t>(*ms) * 1000000))
            exit_with("pin", "the bench holds at most " + std::to_string(gpio::schedule_slots) +
                                 " scheduled drives; a run takes them when it sets up");
        return 0;
    }
    gpio::settle(b, g, bench_clock_reading(), -1, -1, drive);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        usage_error("no command");
    const std::string &command = args[0];
    if (command == "--help" || command == "-h") {
        std::fputs(usage_text, stdout);
        return 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "flash")
        return flash_command(rest);
    if (command == "run")
        return run_command(rest);
    if (command == "pin")
        return pin(rest);
    if (command == "check")
        return check_command(rest);
    if (command == "wire")
        return wire_command(rest);
    if (command == "reset")
        return reset(rest);
    if (command == "status")
        return status(rest);
    if (command == "serial")
        return serial(rest);
    if (command == "gdb")
        return gdb_command(rest);
    if (!rest.empty())
        usage_error(command + " takes no arguments");
    if (command == "pins")
        return pins();
    usage_error("no command " + quoted(command));
}
