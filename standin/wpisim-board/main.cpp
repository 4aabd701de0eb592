// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim-board: the simulated board, powered as long as runs use it. One per
// state directory: it holds board.lock for life and serves the runs that
// connect to board.sock, one request at a time, so transfers from runs at
// once go on the bus one after the other. A slow or stuck run stalls nobody:
// each is read and answered without blocking. It ends ten minutes after the
// last run disconnected, or as soon as its socket is removed; a board held
// in a debugger counts as in use.
//
// Started by the stand-in, never by hand:
//   wpisim-board --state-dir DIR --firmware ELF --ready-fd N --lock-fd N
// It writes "ok" to the ready descriptor once it listens, or why it cannot start.
//
// Also, for the firmware's clock limit:
//   wpisim-board --clock-limit ELF HZ...
// sweeps each clock across every phase of the firmware's other interrupts
// and prints a line a clock: "HZ exchanges wrong [offset reply vector]".

#include "avr_board.hpp"
#include "board_i2c.hpp"
#include "board_wires.hpp"
#include "clock.hpp"
#include "clock_limit.hpp"
#include "event_log.hpp"
#include "firmware_check.hpp"
#include "link.hpp"
#include "message.hpp"
#include "pi_serial.hpp"
#include "serial_port.hpp"
#include "state_files.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <list>
#include <memory>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace
{

using namespace wpisim;

constexpr std::int64_t linger_ns = 600LL * 1000000000; // ten minutes
constexpr int watch_ms = 200;                          // how often the socket is looked for
// A run that leaves this much unread is not reading at all.
constexpr std::size_t max_unsent = 1U << 20;

struct Options {
    std::string state_dir;
    std::string firmware;
    const BoardKind *board = &default_board_kind();
    std::string name = "board"; // the bench's first board's
    int time = 0;               // the clock of the run that starts it: 0 wall, 1 virtual
    int ready_fd = -1;
    int lock_fd = -1;
};

[[noreturn]] void usage()
{
    exit_with("wpisim-board",
              "started by the stand-in only, with --state-dir DIR --firmware FILE "
              "--board KIND [--name NAME] --time wall|virtual --ready-fd N --lock-fd N; or "
              "--clock-limit [--board KIND] FILE HZ...");
}

// A descriptor's number, or -1.
int descriptor(const char *text)
{
    char *end = nullptr;
    const long n = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && n >= 0 && n < 65536 ? static_cast<int>(n) : -1;
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char *value = argv[i + 1];
        if (flag == "--state-dir")
            o.state_dir = value;
        else if (flag == "--firmware")
            o.firmware = value;
        else if (flag == "--board" && find_board_kind(value) != nullptr)
            o.board = find_board_kind(value);
        else if (flag == "--time" &&
                 (std::strcmp(value, "wall") == 0 || std::strcmp(value, "virtual") == 0))
            o.time = std::strcmp(value, "virtual") == 0 ? 1 : 0;
        else if (flag == "--name" && *value != '\0')
            o.name = value;
        else if (flag == "--ready-fd")
            o.ready_fd = descriptor(value);
        else if (flag == "--lock-fd")
            o.lock_fd = descriptor(value);
        else
            usage();
    }
    if (argc % 2 != 1 || o.state_dir.empty() || o.firmware.empty() || o.ready_fd < 3 ||
        o.lock_fd < 3)
        usage();
    return o;
}

// Only what it needs: not the starting run's pipes (a test reads them to
// their end), its terminal or its working directory.
void detach(const Options &o)
{
    setsid();
    if (chdir("/") != 0)
        _exit(1);
    std::vector<int> open_fds;
    if (DIR *fds = opendir("/proc/self/fd")) {
        // One thread, and this is its only use of the directory stream.
        // cppcheck-suppress readdirCalled
        while (const dirent *e = readdir(fds))
            if (e->d_name[0] != '.')
                open_fds.push_back(descriptor(e->d_name));
        closedir(fds);
    }
    for (const int fd : open_fds)
        if (fd > 2 && fd != o.ready_fd && fd != o.lock_fd)
            close(fd);
    fcntl(o.ready_fd, F_SETFD, FD_CLOEXEC);
    fcntl(o.lock_fd, F_SETFD, FD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
}

void say(int fd, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
}

ino_t inode_of(const std::string &path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

struct Client {
    int fd = -1;
    std::string in;
    std::string out;
    int time = -1; // 0 wall, 1 virtual, once it said hello
    std::set<std::string> warned;
};

// The board's call log lines, for the runs they concern: this process has
// no log of its own.
std::string &board_lines()
{
    static std::string lines;
    return lines;
}

// Takes what a run sent without waiting; false once its connection is gone.
bool receive(Client &c)
{
    char buffer[4096];
    const ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0)
        c.in.append(buffer, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

// Sends what is due to a run without waiting; false once it is not reading.
bool flush(Client &c)
{
    const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0)
        c.out.erase(0, static_cast<std::size_t>(n));
    return (n >= 0 || errno == EAGAIN || errno == EINTR) && c.out.size() < max_unsent;
}

// One board of the bench. All are in this one process, on one clock.
struct Slot {
    std::string name;
    bool first = false; // the bench's first board: the state files' plain names
    int cs = -1;        // the chip select it sits on, or -1
    int i2c = -1;       // the address the bench gives it on the Pi's I2C bus, or -1
    std::unique_ptr<AvrBoard> board;
    std::uint64_t firmware = 0;
    const BoardKind *kind = nullptr;
    std::string path;
    std::unique_ptr<SerialPort> serial;
    std::unique_ptr<BoardWires> wires;
    bool timed = false; // a run has set the AVR's cycles against its time
    int usb_sent = 0;   // bytes the board sent during a serial sync
};

class Server
{
  public:
    Server(std::string dir, const std::string &name, std::unique_ptr<AvrBoard> board,
           std::uint64_t firmware, const BoardKind &kind, std::string path, PiSerial &pi, int time)
        : dir_(std::move(dir)), pi_(pi), time_(time)
    {
        Slot &s = add_slot(name, true);
        s.cs = 0;
        s.board = std::move(board);
        s.firmware = firmware;
        s.kind = &kind;
        s.path = std::move(path);
        uart_ = usb_ = &s;
        wire_serial(s);
        s.board->power_on();
    }

    // Between requests: the serial port's traffic, and in wall time the AVR
    // run on in the background, a little behind the clock.
    void between()
    {
        for (Slot &s : slots_) {
            s.board->halt_holds_time(time_ == 1);
            s.board->serve_debugger();
            s.serial->poll_terminal();
            // The Pi's TX, wired straight to D0, holds the board's RX against
            // the USB chip's, which goes through a resistor: typing is lost
            // meanwhile.
            const bool pi_holds_rx = &s == uart_ && pi_.pi_open();
            for (int byte; (byte = s.serial->typed()) >= 0 &&
                           (pi_holds_rx || s.board->serial_in(static_cast<std::uint8_t>(byte)));)
                s.serial->taken();
        }
        catch_up();
        // In wall time the Pi's port goes on by itself, a little behind the clock.
        if (time_ == 0) {
            AvrBoard &uart = *uart_->board;
            pi_.pace_pi_writes(uart, uart.bench_ns());
            pi_.advance(uart, uart.bench_ns());
        } else {
            pi_.hold_pi_writes();
        }
        // Lines of no run's request, such as the board's start, go to all runs.
        if (!lines_.empty() && !clients_.empty()) {
            for (Client &c : clients_)
                c.out += link::encode_tail(link::log_lines, lines_);
            lines_.clear();
        }
    }

    // In wall time the AVR follows the clock, a little behind it, from its
    // power-on; on virtual time it runs only when a run asks.
    void catch_up()
    {
        if (time_ != 0)
            return;
        for (Slot &s : slots_)
            s.board->run_towards(now_ns() - lag_ns, max_behind_ns, slice_ns);
    }

    // The runs connected: each hello is checked against their time, and all
    // hear when the board is working on a long request. A deque, so a run
    // accepted while another's request runs leaves that one where it is.
    std::deque<Client> &clients() { return clients_; }
    // The socket runs connect to: once it is gone, the board's time is over.
    void listen(int listener, std::string sock)
    {
        listener_ = listener;
        sock_ = std::move(sock);
        sock_inode_ = inode_of(sock_);
    }

    // How long poll may wait: in wall time the AVR must keep running, and
    // a debugger's packets are answered between requests.
    int wait_ms() const { return time_ == 0 || debugged() ? 2 : watch_ms; }

    bool debugged() const
    {
        return std::any_of(slots_.begin(), slots_.end(),
                           [](const Slot &s) { return s.board->debugger_port() != 0; });
    }
    bool halted() const
    {
        return std::any_of(slots_.begin(), slots_.end(),
                           [](const Slot &s) { return s.board->halted(); });
    }

    // Answers every whole request the client has sent; false to drop it.
    bool serve(Client &c)
    {
        for (;;) {
            link::Message m;
            std::size_t size = 0;
            if (!link::decode_front(c.in, &m, &size))
                return false;
            if (size == 0)
                return true;
            c.in.erase(0, size);
            serving_ = &c;
            std::string reply;
            const bool ok = answer(m, c, &reply);
            serving_ = nullptr;
            // The board's lines of this request reach the run before its answer.
            if (!lines_.empty()) {
                c.out += link::encode_tail(link::log_lines, lines_);
                lines_.clear();
            }
            c.out += reply;
            if (!ok)
                return false;
        }
    }

  private:
    bool answer(const link::Message &m, Client &c, std::string *out)
    {
        link::HelloRequest greeting{};
        if (m.kind == link::hello && m.fixed_as(&greeting)) {
            if (greeting.virtual_time == link::any_time) {
                tool_hello(greeting, m.tail, out);
                return true;
            }
            for (const Client &other : clients_)
                if (&other != &c && other.time >= 0 && other.time != greeting.virtual_time) {
                    refuse_time(other.time, out);
                    return true;
                }
            c.time = greeting.virtual_time;
            hello(greeting, m.tail, out);
            return true;
        }
        // Asking how the board is needs no hello: it changes nothing; nor
        // does opening its debugger's stub.
        if (m.kind == link::status) {
            status(m.tail, out);
            return true;
        }
        if (m.kind == link::debug)
            return debug(m, out);
        if (c.time < 0)
            return false;
        if (m.kind == link::exchange)
            return exchange(m, c, out);
        return answer_bus(m, c, out);
    }

    // The Pi's other buses and its GPIO wires; false to drop the run.
    bool answer_bus(const link::Message &m, const Client &c, std::string *out)
    {
        link::SerialSyncRequest serial{};
        if (m.kind == link::serial_sync && m.fixed_as(&serial) &&
            serial.until_ns >= serial.now_ns) {
            const std::int64_t reached = serial_sync(serial, out);
            if (c.time == 1)
                latest_ = std::max(latest_, reached);
            return true;
        }
        if (m.kind == link::wires)
            return wire(m, out);
        if (m.kind == link::pi_pin) {
            link::PiPin pin{};
            // One from a run whose bench another has since rewired is let go.
            if (m.fixed_as(&pin))
                for (Slot &s : slots_)
                    if (s.wires->pi_pin(pin, *s.board))
                        break;
            return true;
        }
        if (m.kind == link::sync)
            return sync(m, c, out);
        if (m.kind == link::i2c) {
            link::I2cAnswer a{};
            if (!serve_i2c(m, *slot_for_i2c(m).board, out, &a))
                return false;
            if (c.time == 1)
                latest_ = std::max(latest_, a.end_ns);
            return true;
        }
        return false;
    }

    bool exchange(const link::Message &m, Client &c, std::string *out)
    {
        link::ExchangeRequest req{};
        if (m.kind != link::exchange || !m.fixed_as(&req) || req.len < 0 ||
            m.tail.size() != static_cast<std::size_t>(req.len) || req.bit_ns <= 0 || req.mode < 0 ||
            req.mode > 3)
            return false;
        std::string data = m.tail;
        const std::int64_t cpu = thread_cpu_ns();
        link::ExchangeAnswer a{};
        Slot *s = slot_on(req.channel);
        // No board on the chip select: nobody drives MISO.
        if (s == nullptr) {
            std::fill(data.begin(), data.end(), '\0');
            a.start_ns = req.start_ns;
            *out += link::encode(link::exchange_answer, a, data);
            return true;
        }
        a.answered = 1;
        a.start_ns = s->board->exchange(reinterpret_cast<unsigned char *>(data.data()), req.len,
                                        req.start_ns, req.bit_ns, req.mode);
        a.report = s->board->last_report();
        a.report.cpu_ns = thread_cpu_ns() - cpu;
        if (c.time == 1)
            latest_ = std::max(latest_, a.start_ns);
        *out += link::encode(link::exchange_answer, a, data);
        return true;
    }

    // The Pi's serial port on the virtual clock: what the Pi wrote goes on
    // the line at its time, and the board runs on until a byte reaches the
    // Pi's port (the one asked about) or until the time asked, in steps no
    // longer than the quickest byte could arrive. Returns where it stopped.
    std::int64_t serial_sync(const link::SerialSyncRequest &req, std::string *out)
    {
        link::SerialSyncAnswer a{};
        AvrBoard &uart = *uart_->board;
        usb_->usb_sent = 0;
        bool going = run_to(req.now_ns);
        pi_.take_pi_writes(uart, req.now_ns, req.port == link::serial_uart ? req.written : 0);
        int to_uart = pi_.advance(uart, req.now_ns);
        auto arrived = [&] { return req.port == link::serial_uart ? to_uart : usb_->usb_sent; };
        std::int64_t t = req.now_ns;
        std::int64_t looked = wpisim::now_ns();
        while (going && arrived() == 0 && t < req.until_ns) {
            std::int64_t step =
                t + std::max<std::int64_t>(
                        1000, static_cast<std::int64_t>(pi_.shortest_frame_ns(uart) / 2));
            const std::int64_t next = pi_.next_arrival();
            if (next >= 0)
                step = std::min(step, std::max(next, t + 1));
            step = std::min(step, req.until_ns);
            going = run_to(step);
            // Many short steps never make a long run of the AVR: the other
            // runs are looked after, and this one told the board works on.
            if (going && wpisim::now_ns() - looked >= AvrBoard::busy_every_ns) {
                looked = wpisim::now_ns();
                going = look_around();
            }
            to_uart += pi_.advance(uart, step);
            t = step;
        }
        a.reached_ns = t;
        a.delivered = arrived();
        a.open = pi_.pi_open() ? 1 : 0;
        *out += link::encode(link::serial_sync_answer, a);
        return t;
    }

    // Runs every AVR exactly to simulated time t, looking after the other
    // runs meanwhile; false if the asking run went away or a reset was asked.
    bool run_to(std::int64_t t)
    {
        for (Slot &s : slots_)
            while (!s.board->run_towards(t, std::numeric_limits<std::int64_t>::max() / 4, slice_ns))
                if (!look_around())
                    return false;
        return true;
    }

    bool wire(const link::Message &m, std::string *out)
    {
        if (m.tail.size() % sizeof(link::WireEnds) != 0)
            return false;
        std::vector<link::WireEnds> asked(m.tail.size() / sizeof(link::WireEnds));
        if (!asked.empty())
            std::memcpy(asked.data(), m.tail.data(), m.tail.size());
        std::string why;
        for (const link::WireEnds &w : asked)
            if (slot_named(std::string(w.board, strnlen(w.board, sizeof w.board))) == nullptr)
                why = "no board " + quoted(w.board) + " has said hello";
        // Each board's wires, the rest of them none.
        for (Slot &s : slots_) {
            std::vector<link::WireEnds> its;
            for (const link::WireEnds &w : asked)
                if (s.name == std::string(w.board, strnlen(w.board, sizeof w.board)))
                    its.push_back(w);
            if (why.empty())
                why = s.wires->set(its, *s.board, *s.kind);
        }
        if (!why.empty())
            Record("board-error").text("message", why).emit();
        *out += link::encode_tail(link::wires_answer, why);
        return true;
    }

    bool sync(const link::Message &m, const Client &c, std::string *out)
    {
        link::SyncRequest req{};
        if (!m.fixed_as(&req))
            return false;
        link::SyncAnswer a{};
        const bool stop = req.stop_at_change != 0;
        const auto earlier = [&](std::int64_t change) {
            if (change >= 0 && (a.change_ns < 0 || change < a.change_ns))
                a.change_ns = change;
        };
        if (slots_.size() == 1 || !stop) {
            for (Slot &s : slots_)
                earlier(s.board->sync(req.until_ns, stop));
        } else {
            // Several boards go together, a slice at a time, so none runs far
            // past another's change.
            std::int64_t t = req.until_ns;
            for (const Slot &s : slots_)
                t = std::min(t, s.board->bench_ns());
            while (a.change_ns < 0 && t < req.until_ns) {
                t = std::min(t + sync_slice_ns, req.until_ns);
                for (Slot &s : slots_)
                    earlier(s.board->sync(t, true));
            }
        }
        a.reached_ns = req.until_ns;
        for (const Slot &s : slots_)
            a.reached_ns = std::min(a.reached_ns, s.board->bench_ns());
        if (c.time == 1)
            latest_ = std::max(latest_, a.reached_ns);
        *out += link::encode(link::sync_answer, a);
        return true;
    }

    // Each run hears a warning once.
    void warn(const std::string &line)
    {
        for (Client &c : clients_)
            if (c.fd >= 0 && c.warned.insert(line).second)
                c.out += link::encode_tail(link::warning, line);
    }

    // A reset or other firmware is, to every run, the board reset: they go on
    // against the fresh one. Firmware that cannot run leaves the board as it
    // was. A board not yet here joins, from its power-on.
    void hello(const link::HelloRequest &req, const std::string &path, std::string *out)
    {
        link::HelloAnswer a{};
        a.pid = getpid();
        std::string why;
        Slot *s = nullptr;
        a.reset = load(req, path, &s, &why) ? 1 : 0;
        // A board that changes clocks, or a virtual clock set back, keeps
        // going from where the AVR is; a board fresh from its power-on is
        // at the first run's time then, the same on every run.
        if (why.empty()) {
            const bool moved = req.virtual_time != time_ || (time_ == 1 && req.now_ns < latest_);
            for (Slot &each : slots_)
                if (moved || (&each == s && !each.timed)) {
                    each.board->rebase(req.now_ns);
                    each.timed = true;
                }
            time_ = req.virtual_time;
            for (Slot &each : slots_)
                each.board->halt_holds_time(time_ == 1);
            place(*s, req);
        }
        latest_ = req.now_ns;
        answer_hello(a, why, out);
    }

    static void answer_hello(link::HelloAnswer &a, const std::string &why, std::string *out)
    {
        a.ok = why.empty() ? 1 : 0;
        if (!why.empty())
            Record("board-error").text("message", why).emit();
        *out += link::encode(link::hello_answer, a, why);
    }

    // wpisim's reset and flash: the board restarts on the clock it was on,
    // where that clock is now, whichever the runs connected use.
    void tool_hello(const link::HelloRequest &req, const std::string &path, std::string *out)
    {
        link::HelloAnswer a{};
        a.pid = getpid();
        std::string why;
        Slot *s = nullptr;
        const bool timed =
            std::any_of(slots_.begin(), slots_.end(), [](const Slot &each) { return each.timed; });
        if (load(req, path, &s, &why)) {
            a.reset = 1;
            s->timed = timed;
            if (timed)
                s->board->rebase(time_ == 1 ? latest_ : now_ns());
        }
        if (why.empty())
            place(*s, req);
        answer_hello(a, why, out);
    }

    // Where a hello says its board sits on the Pi's buses.
    void place(Slot &s, const link::HelloRequest &req)
    {
        if (req.cs >= 0)
            for (Slot &other : slots_)
                if (other.cs == req.cs)
                    other.cs = -1;
        s.cs = req.cs;
        s.i2c = req.i2c;
        if (req.uart != 0)
            uart_ = &s;
        if (req.usb != 0)
            usb_ = &s;
    }

    // Puts the firmware asked for on a fresh board where a reset or other
    // firmware is asked for, or where the board named is not here yet; true
    // if it did. s: the board named, once it is here.
    bool load(const link::HelloRequest &req, const std::string &path, Slot **s, std::string *why)
    {
        const std::string kind_name(req.board, strnlen(req.board, sizeof req.board));
        const BoardKind *kind = find_board_kind(kind_name);
        if (kind == nullptr) {
            *why = "no such kind of board: " + quoted(kind_name);
            return false;
        }
        const std::string name(req.name, strnlen(req.name, sizeof req.name));
        *s = slot_named(name);
        if (*s != nullptr && req.fresh == 0 && req.firmware == (*s)->firmware)
            return false;
        std::string content;
        firmware_problem(path, *kind, &content);
        std::unique_ptr<AvrBoard> fresh = make_avr_board(path, *kind, why);
        if (!fresh)
            return false;
        // Another bench's first board: the old one is unplugged.
        if (*s == nullptr && req.first != 0)
            retire_first();
        if (*s == nullptr)
            *s = &add_slot(name, req.first != 0);
        Slot &to = **s;
        const int debugger = to.board ? to.board->debugger_port() : 0;
        to.board = std::move(fresh);
        // The debugger's port stays the board's, through a reset or a flash.
        std::string lost;
        if (debugger != 0 && to.board->open_debugger(debugger, &lost) < 0)
            Record("board-error").text("message", "the debugger's stub: " + lost).emit();
        to.kind = kind;
        to.path = path;
        wire_serial(to);
        // The wires are on the board as it powers on.
        to.wires->rewire(*to.board, *to.kind);
        to.board->power_on();
        to.firmware = link::content_id(content, kind_name);
        to.timed = false;
        Record("board-reset").text("board", to.name).text("firmware", path).emit();
        return true;
    }

    // wpisim gdb: the stub opened, or kept where it is open.
    bool debug(const link::Message &m, std::string *out)
    {
        link::DebugRequest req{};
        if (!m.fixed_as(&req) || req.port < link::keep_port || req.port > 65535)
            return false;
        link::DebugAnswer a{};
        a.pid = getpid();
        std::string why;
        Slot *s = slot_named(m.tail);
        if (s == nullptr) {
            why = "no board " + quoted(m.tail) + " in the board process";
        } else {
            const int open = s->board->debugger_port();
            if (open == 0 || (req.port != link::keep_port && req.port != open))
                s->board->open_debugger(
                    req.port == link::keep_port ? link::default_debug_port : req.port, &why);
            a.port = s->board->debugger_port();
            if (why.empty() && req.halt != 0)
                s->board->halt();
            a.halted = s->board->halted() ? 1 : 0;
        }
        a.ok = why.empty() ? 1 : 0;
        if (!why.empty())
            Record("board-error").text("message", why).emit();
        *out += link::encode(link::debug_answer, a, s != nullptr && why.empty() ? s->path : why);
        return true;
    }

    void status(const std::string &name, std::string *out)
    {
        // Not from inside a request's own run of the AVR.
        if (serving_ == nullptr)
            catch_up();
        link::StatusAnswer a{};
        a.pid = getpid();
        a.virtual_time = time_ == 1 ? 1 : 0;
        Slot *s = slot_named(name);
        if (s == nullptr) {
            *out += link::encode(link::status_answer, a);
            return;
        }
        a.report = s->board->report_now();
        std::snprintf(a.board, sizeof a.board, "%s", s->kind->name);
        std::snprintf(a.name, sizeof a.name, "%s", s->name.c_str());
        *out += link::encode(link::status_answer, a, s->path);
    }

    void wire_serial(Slot &s)
    {
        s.board->on_serial([this, &s](std::uint8_t byte) {
            s.serial->sent(byte);
            ++s.usb_sent;
            if (&s == uart_)
                pi_.board_sent(byte, s.board->bench_ns(), s.board->uart_format());
        });
        s.board->on_busy([this] { return look_around(); });
    }

    void retire_first()
    {
        for (auto it = slots_.begin(); it != slots_.end(); ++it) {
            if (!it->first)
                continue;
            Record("board-gone").text("board", it->name).emit();
            if (uart_ == &*it)
                uart_ = nullptr;
            if (usb_ == &*it)
                usb_ = nullptr;
            slots_.erase(it);
            return;
        }
    }

    // A board's place in the process: its serial port and its wires.
    Slot &add_slot(const std::string &name, bool first)
    {
        slots_.emplace_back();
        Slot &s = slots_.back();
        s.name = name;
        s.first = first;
        std::string why;
        s.serial = std::make_unique<SerialPort>(dir_, first ? "" : name, &why);
        if (!why.empty())
            Record("board-error").text("message", why).emit();
        s.wires = std::make_unique<BoardWires>([this](const std::string &line) { warn(line); });
        if (uart_ == nullptr)
            uart_ = &s;
        if (usb_ == nullptr)
            usb_ = &s;
        return s;
    }

    // The board of that name; the first for no name.
    Slot *slot_named(const std::string &name)
    {
        for (Slot &s : slots_)
            if (name.empty() ? s.first : s.name == name)
                return &s;
        return nullptr;
    }

    // The board the bench puts at a transfer's address; with none there,
    // the first board, whose sketch's own address decides whether it answers.
    Slot &slot_for_i2c(const link::Message &m)
    {
        link::I2cPart first{};
        if (m.tail.size() >= sizeof first)
            std::memcpy(&first, m.tail.data(), sizeof first);
        for (Slot &s : slots_)
            if (s.i2c == first.address)
                return s;
        Slot *bench_first = slot_named("");
        return bench_first != nullptr ? *bench_first : slots_.front();
    }

    Slot *slot_on(int cs)
    {
        for (Slot &s : slots_)
            if (s.cs == cs)
                return &s;
        return nullptr;
    }

    // While the AVR runs a long simulated gap for one run's request: new
    // runs are let in, a status is answered at once, and every run hears
    // every second that the board is working, so none takes it for a stuck
    // one (a run that is not reading gets one message at most). A reset
    // asked for, or the asking run gone, ends the catch-up: false.
    bool look_around()
    {
        for (int fd; listener_ >= 0 && (fd = accept4(listener_, nullptr, nullptr,
                                                     SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
            clients_.push_back({fd, {}, {}, -1, {}});
        // A state directory removed ends the board, however far it is behind.
        bool go_on = inode_of(sock_) == sock_inode_;
        for (Client &c : clients_) {
            if (c.fd < 0)
                continue;
            if (!receive(c) && &c == serving_)
                go_on = false;
            if (&c != serving_)
                go_on = answer_status(c) && go_on;
        }
        say_working();
        for (Client &c : clients_)
            if (c.fd >= 0 && !c.out.empty())
                flush(c);
        return go_on;
    }

    // Every second, to every run: the board works on, or a debugger holds it.
    void say_working()
    {
        const std::int64_t now = now_ns();
        if (now - said_working_ns_ < link::working_every_ns)
            return;
        said_working_ns_ = now;
        const std::string note = held_note();
        for (Client &c : clients_)
            if (c.fd >= 0 && c.out.empty())
                c.out += note.empty() ? link::encode_tail(link::working)
                                      : link::encode_tail(link::halted, note);
    }

    // What the runs waiting on a board held in a debugger are told, once
    // each; empty while none is held.
    std::string held_note() const
    {
        for (const Slot &s : slots_)
            if (s.board->halted())
                return "wpisim: board " + quoted(s.name) + " is halted in the debugger (port " +
                       std::to_string(s.board->debugger_port()) +
                       "): the run waits until it goes on";
        return "";
    }

    // Answers the status and debug requests at the head of a run's input;
    // false when a reset waits behind them.
    bool answer_status(Client &c)
    {
        for (;;) {
            link::Message m;
            std::size_t size = 0;
            if (!link::decode_front(c.in, &m, &size) || size == 0)
                return true;
            link::HelloRequest req{};
            if (m.kind == link::hello && m.fixed_as(&req))
                return req.fresh == 0;
            if (m.kind != link::status && m.kind != link::debug)
                return true;
            c.in.erase(0, size);
            if (m.kind == link::status)
                status(m.tail, &c.out);
            else if (!debug(m, &c.out))
                return true;
        }
    }

    // Runs on wall time and on virtual time cannot share one board: each
    // would see the other's transfers at times that never were.
    static void refuse_time(int other, std::string *out)
    {
        link::HelloAnswer a{};
        a.pid = getpid();
        a.about_time = 1;
        *out += link::encode(link::hello_answer, a,
                             std::string("the board is in use by a run on ") +
                                 (other == 1 ? "virtual" : "wall") + " time");
    }

    // Behind the wall clock by this much, so a sleeping AVR's jump to its
    // next timer never takes it past the next exchange's start.
    static constexpr std::int64_t lag_ns = 2000000;
    // More behind than this, simulated time slips rather than catch up.
    static constexpr std::int64_t max_behind_ns = 50000000;
    // Host time the AVR may run between two looks at the runs.
    static constexpr std::int64_t slice_ns = 3000000;

    // Several boards with their edges watched step together this far at a time.
    static constexpr std::int64_t sync_slice_ns = 10000;

    std::string dir_;
    std::list<Slot> slots_; // a list: each stays where it is as others come and go
    Slot *uart_ = nullptr;  // the board on the Pi's UART
    Slot *usb_ = nullptr;   // the board on the Pi's USB serial device
    PiSerial &pi_;
    std::deque<Client> clients_;
    int listener_ = -1;
    std::string sock_;
    ino_t sock_inode_ = 0;
    Client *serving_ = nullptr; // whose request runs now
    std::int64_t said_working_ns_ = 0;
    std::string &lines_ = board_lines();
    int time_; // 0 wall, 1 virtual: whose time the AVR's cycles follow
    std::int64_t latest_ = 0;
};

int listen_on(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // This process holds the lock: a socket left there is a dead board's.
    unlink(path.c_str());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(fd, 64) != 0)
        return -1;
    return fd;
}

// Reads what a run sent, answers it, sends what is due; false to drop it.
bool service(Client &c, short got, Server &server)
{
    bool keep = (got & (POLLERR | POLLNVAL)) == 0;
    if (keep && (got & (POLLIN | POLLHUP)) != 0)
        keep = receive(c);
    // Also what was read while another run's request ran.
    keep = keep && server.serve(c);
    return keep && (c.out.empty() || flush(c));
}

// A whole request read and not yet answered.
bool waiting(const Client &c)
{
    std::size_t size = 0;
    return link::decode_front(c.in, nullptr, &size) && size > 0;
}

void run(Server &server, int listener, const std::string &sock)
{
    const ino_t ours = inode_of(sock);
    server.listen(listener, sock);
    std::deque<Client> &clients = server.clients();
    std::int64_t last_left = now_ns();
    while (inode_of(sock) == ours && (!clients.empty() || now_ns() - last_left < linger_ns)) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (const Client &c : clients)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        const bool pending = std::any_of(clients.begin(), clients.end(), waiting);
        const int ready = poll(fds.data(), fds.size(), pending ? 0 : server.wait_ms());
        server.between();
        if (ready <= 0 && !pending)
            continue;
        // Runs let in while a request ran have no poll result yet.
        for (std::size_t i = 0; i < clients.size(); ++i)
            if (!service(clients[i], i + 1 < fds.size() ? fds[i + 1].revents : short{0}, server)) {
                close(clients[i].fd);
                clients[i].fd = -1;
            }
        const std::size_t before = clients.size();
        clients.erase(std::remove_if(clients.begin(), clients.end(),
                                     [](const Client &c) { return c.fd < 0; }),
                      clients.end());
        if ((clients.size() < before && clients.empty()) || server.halted())
            last_left = now_ns();
        if ((fds[0].revents & POLLIN) != 0)
            for (int fd;
                 (fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
                clients.push_back({fd, {}, {}, -1, {}});
    }
    if (inode_of(sock) == ours)
        unlink(sock.c_str());
}

} // namespace

int clock_limit(int argc, char **argv)
{
    const BoardKind *kind = &default_board_kind();
    int first = 2;
    if (argc > 3 && std::strcmp(argv[2], "--board") == 0) {
        kind = find_board_kind(argv[3]);
        if (kind == nullptr)
            exit_with("wpisim-board --clock-limit --board " + quoted(argv[3]),
                      "not a kind of board (" + board_kind_names() + ")");
        first = 4;
    }
    if (argc < first + 2)
        usage();
    const char *firmware = argv[first];
    for (int i = first + 1; i < argc; ++i) {
        char *end = nullptr;
        const double hz = std::strtod(argv[i], &end);
        if (end == argv[i] || *end != '\0' || !(hz >= 1 && hz <= 8e6))
            exit_with("wpisim-board --clock-limit", "not a clock in Hz: " + quoted(argv[i]));
        std::string why;
        const PhaseSweep s = sweep_phases(firmware, *kind, hz, &why);
        if (!why.empty())
            exit_with("wpisim-board --clock-limit " + quoted(firmware), why);
        std::printf("%s %ld %ld", argv[i], s.exchanges, s.wrong);
        if (s.wrong > 0)
            std::printf(" %ld %02x%02x %d", s.first_wrong_offset,
                        static_cast<unsigned char>(s.first_wrong_reply[0]),
                        static_cast<unsigned char>(s.first_wrong_reply[1]), s.vector);
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--clock-limit") == 0)
        return clock_limit(argc, argv);
    const Options o = parse(argc, argv);
    detach(o);
    divert_records([](const std::string &line) { board_lines() += line; });
    std::string content;
    firmware_problem(o.firmware, *o.board, &content);
    std::string why;
    std::unique_ptr<AvrBoard> board = make_avr_board(o.firmware, *o.board, &why);
    const std::string sock = o.state_dir + "/" + state_files::board_socket;
    const int listener = board ? listen_on(sock) : -1;
    if (board && listener < 0)
        why = "cannot listen on " + quoted(sock) + ": " + std::strerror(errno);
    if (!why.empty()) {
        Record("board-error").text("message", why).emit();
        say(o.ready_fd, why);
        return 1;
    }
    std::string pi_why;
    PiSerial pi(o.state_dir, &pi_why);
    if (!pi_why.empty())
        Record("board-error").text("message", pi_why).emit();
    Server server(o.state_dir, o.name, std::move(board), link::content_id(content, o.board->name),
                  *o.board, o.firmware, pi, o.time);
    Record("board-start").text("firmware", o.firmware).emit();
    say(o.ready_fd, "ok");
    close(o.ready_fd);
    run(server, listener, sock);
    return 0;
}
