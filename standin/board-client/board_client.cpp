// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// A run's side of the simulated board: its session with the board process,
// which runs at once share as programs on a Pi share its bus. Where no board
// program was built, there is no board.

#include "board_client.hpp"

#include "bench_clock.hpp"
#include "bench_file.hpp"
#include "board_process.hpp"
#include "clock.hpp"
#include "diagnostic.hpp"
#include "event_log.hpp"
#include "firmware_check.hpp"
#include "install_layout.hpp"
#include "link.hpp"
#include "settings.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

namespace wpisim
{

namespace
{

[[noreturn]] void board_failed(const std::string &why)
{
    fail("board", why);
}

class BoardClient : public Peer, public BoardSession, public SerialLink
{
  public:
    BoardClient(int fd, std::int32_t pid) : fd_(fd), pid_(pid) {}
    ~BoardClient() override { close(fd_); }
    BoardClient(const BoardClient &) = delete;
    BoardClient &operator=(const BoardClient &) = delete;

    link::HelloAnswer hello(const BenchBoard &where, bool fresh, bool any_time,
                            std::uint64_t firmware, const BoardKind &kind, const std::string &path,
                            std::string *reason)
    {
        link::HelloRequest req{};
        std::snprintf(req.board, sizeof req.board, "%s", kind.name);
        std::snprintf(req.name, sizeof req.name, "%s", where.name.c_str());
        req.first = &where == &first_board() ? 1 : 0;
        req.cs = static_cast<std::int16_t>(where.spi == "ce0" ? 0 : where.spi == "ce1" ? 1 : -1);
        // The default bench's one board is on both serial ports.
        const bool default_bench = the_bench().path.empty();
        req.uart = default_bench || where.serial == "uart" ? 1 : 0;
        req.usb = default_bench || where.serial == "usb" ? 1 : 0;
        req.i2c = static_cast<std::int16_t>(where.i2c);
        req.fresh = fresh ? 1 : 0;
        req.firmware = firmware;
        req.virtual_time = any_time ? link::any_time : virtual_time() ? 1 : 0;
        req.now_ns = any_time ? 0 : bench_now_ns();
        const link::Message m =
            ask("hello", link::encode(link::hello, req, path), link::hello_limit_ns);
        link::HelloAnswer answer{};
        if (m.kind != link::hello_answer || !m.fixed_as(&answer))
            unanswered("hello", "an answer out of step");
        *reason = m.tail;
        pid_ = answer.pid;
        return answer;
    }

    Outcome exchange(const Transfer &t) override
    {
        Outcome o;
        // The outputs are what the board last showed.
        o.has_outputs = true;
        o.d5 = d5_;
        o.d6 = d6_;
        if (t.channel == no_chip_select) {
            o.answered = false;
            return o;
        }
        link::ExchangeRequest req{};
        req.channel = t.channel;
        req.len = t.len;
        req.mode = t.mode;
        req.start_ns = t.start_ns;
        req.bit_ns = t.bit_ns;
        const auto len = static_cast<std::size_t>(t.len);
        // The transfer's own time on the wire, and the margin for a busy host.
        const link::Message m =
            ask("transfer",
                link::encode(link::exchange, req,
                             std::string_view(reinterpret_cast<const char *>(t.data), len)),
                t.bit_ns * 8 * t.len + link::silence_limit_ns);
        link::ExchangeAnswer answer{};
        if (m.kind != link::exchange_answer || !m.fixed_as(&answer) || m.tail.size() != len)
            unanswered("transfer", "an answer out of step");
        std::memcpy(t.data, m.tail.data(), len);
        o.answered = answer.answered != 0;
        if (!o.answered)
            return o;
        const link::BoardReport &report = answer.report;
        o.began_ns = answer.start_ns;
        o.remote_cpu_ns = report.cpu_ns;
        o.d5 = d5_ = report.d5;
        o.d6 = d6_ = report.d6;
        static const char *const states[] = {"running", "stopped", "crashed"};
        const char *state = states[report.state >= 0 && report.state <= 2 ? report.state : 2];
        Record("board")
            .num("cycle", report.cycle)
            .num("hz", report.hz)
            .num("d5", report.d5)
            .num("d6", report.d6)
            .text("miso_idle", report.miso_driven != 0 ? "driven" : "released")
            .num("wcol", report.wcol)
            .text("state", state)
            .num("cpu_ns", report.cpu_ns)
            .emit();
        // Said once a run: a stopped board still answers, with echoes.
        if (report.state != link::board_running && !stop_told_) {
            stop_told_ = true;
            std::fprintf(stderr,
                         "wpisim: board stopped: the firmware %s at pc 0x%04x; its SPI now "
                         "echoes each byte one byte late\n",
                         report.state == link::board_stopped ? "slept with interrupts off"
                                                             : "crashed",
                         static_cast<unsigned>(report.pc));
        }
        return o;
    }

    const char *name() const override { return "board"; }

    link::SerialSyncAnswer serial_sync(const link::SerialSyncRequest &req) override
    {
        // The board may run the whole span asked for; it says when it works on.
        const link::Message m =
            ask("serial", link::encode(link::serial_sync, req), link::silence_limit_ns);
        link::SerialSyncAnswer answer{};
        if (m.kind != link::serial_sync_answer || !m.fixed_as(&answer))
            unanswered("serial", "an answer out of step");
        return answer;
    }

    std::string wire(const std::vector<link::WireEnds> &wires) override
    {
        const std::string_view tail(reinterpret_cast<const char *>(wires.data()),
                                    wires.size() * sizeof(link::WireEnds));
        const link::Message m =
            ask("wiring", link::encode_tail(link::wires, tail), link::silence_limit_ns);
        if (m.kind != link::wires_answer)
            unanswered("wiring", "an answer out of step");
        return m.tail;
    }

    void pi_pin(int gpio, int side, std::int64_t at_ns) override
    {
        link::PiPin pin{};
        pin.gpio = gpio;
        pin.side = side;
        pin.at_ns = at_ns;
        std::string why;
        const std::lock_guard<std::mutex> hold(lock_);
        if (!link::send(fd_, link::encode(link::pi_pin, pin), now_ns() + link::silence_limit_ns,
                        &why))
            unanswered("pin change", why);
    }

    link::SyncAnswer sync(std::int64_t until_ns, bool stop_at_change) override
    {
        link::SyncRequest req{};
        req.until_ns = until_ns;
        req.stop_at_change = stop_at_change ? 1 : 0;
        const link::Message m = ask("sync", link::encode(link::sync, req), link::silence_limit_ns);
        link::SyncAnswer answer{};
        if (m.kind != link::sync_answer || !m.fixed_as(&answer))
            unanswered("sync", "an answer out of step");
        return answer;
    }

    link::Message ask_board(const char *what, const std::string &request,
                            std::int64_t limit_ns) override
    {
        return ask(what, request, limit_ns);
    }

  private:
    // Sends a request and reads its answer within limit_ns, or ends the run.
    // Threads take turns: an interrupt's thread may ask while the main one does.
    link::Message ask(const char *what, const std::string &request, std::int64_t limit_ns) const
    {
        std::string why;
        link::Message m;
        const std::lock_guard<std::mutex> hold(lock_);
        const std::int64_t deadline = now_ns() + limit_ns;
        if (!link::send(fd_, request, deadline, &why) ||
            !link::read_answer(fd_, &m, deadline, &why))
            unanswered(what, why);
        return m;
    }

    [[noreturn]] void unanswered(const char *what, const std::string &why) const
    {
        board_failed("the board process (pid " + std::to_string(pid_) + ") failed the " + what +
                     ": " + why);
    }

    int fd_;
    std::int32_t pid_;
    mutable std::mutex lock_;
    int d5_ = 0;
    int d6_ = 0;
    bool stop_told_ = false;
};

bool reset_asked()
{
    return setting_flag("WPISIM_BOARD_RESET");
}

std::unique_ptr<BoardClient> connect_board(bool named, bool reset, bool *started_out,
                                           const Firmware *firmware_given, const BenchBoard *b);

// A board's firmware, checked, with its path from the root (the board
// process runs elsewhere) and its content; a firmware refused ends the run.
struct Checked {
    Firmware chosen;
    std::string path;
    std::string content;
};

Checked check_firmware(const Firmware &chosen)
{
    Checked c{chosen, chosen.path, {}};
    const std::string refused = firmware_problem(c.path, *chosen.kind, &c.content);
    if (!refused.empty())
        fail(chosen.what, refused);
    if (char *full = realpath(c.path.c_str(), nullptr)) {
        c.path = full;
        std::free(full);
    }
    return c;
}

// The firmware of a board of the bench: the first's as chosen_firmware()
// says; another's from the bench file, else its own flash, else the
// reference firmware, on the kind the file says.
Firmware firmware_of(const BenchBoard &b)
{
    if (&b == &first_board())
        return chosen_firmware();
    Firmware f;
    if (!b.firmware.empty()) {
        f.path = b.firmware;
        f.what = "board " + quoted(b.name) + " firmware " + quoted(b.firmware);
    } else {
        f = flashed_firmware(b.name);
    }
    if (b.kind_given || f.kind == nullptr)
        f.kind = b.kind;
    return f;
}

void say_hello(BoardClient &board, const BenchBoard &b, const Checked &c, bool fresh, bool tool,
               bool started = false)
{
    std::string reason;
    const link::HelloAnswer answer =
        board.hello(b, fresh, tool, link::content_id(c.content, c.chosen.kind->name),
                    *c.chosen.kind, c.path, &reason);
    if (answer.ok == 0)
        fail(answer.about_time != 0
                 ? std::string("WPISIM_TIME=") + (virtual_time() ? "virtual" : "wall")
                 : c.chosen.what,
             reason);
    Record("board-link")
        .text("board", b.name)
        .num("board_pid", answer.pid)
        .num("started", started ? 1 : 0)
        .num("reset", answer.reset)
        .emit();
}

// The SPI bus's peer in a run: the run's session.
class SessionPeer : public Peer
{
  public:
    explicit SessionPeer(BoardClient &session) : session_(session) {}
    Outcome exchange(const Transfer &t) override { return session_.exchange(t); }
    const char *name() const override { return session_.name(); }

  private:
    BoardClient &session_;
};

// Never destroyed: interrupt threads may still use it as the program ends.
BoardClient *session = nullptr;
std::mutex session_lock;

// The bench's first board, then each other: a run's transfers, wires and
// serial reach every board of its bench.
BoardClient *run_session(bool named)
{
    const std::lock_guard<std::mutex> hold(session_lock);
    if (session != nullptr)
        return session;
    session = connect_board(named, false, nullptr, nullptr, nullptr).release();
    if (session == nullptr)
        return nullptr;
    for (const BenchBoard &b : the_bench().boards)
        if (&b != &first_board())
            say_hello(*session, b, check_firmware(firmware_of(b)), reset_asked(), false);
    return session;
}

} // namespace

BoardSession *board_session(bool named)
{
    return run_session(named);
}

std::optional<BoardStatus> board_status(const std::string &name)
{
    const int fd = find_board_process();
    if (fd < 0) {
        forget_dead_board();
        return std::nullopt;
    }
    BoardStatus s;
    std::string why;
    link::Message m;
    const std::int64_t deadline = now_ns() + link::silence_limit_ns;
    const bool answered = link::send(fd, link::encode_tail(link::status, name), deadline, &why) &&
                          link::read_answer(fd, &m, deadline, &why);
    close(fd);
    if (!answered)
        board_failed("the board process failed the status: " + why);
    if (m.kind != link::status_answer || !m.fixed_as(&s.answer))
        board_failed("the board process failed the status: an answer out of step");
    s.firmware = m.tail;
    return s;
}

std::unique_ptr<Peer> make_board_peer(bool named, bool reset, bool *started_out,
                                      const Firmware *firmware_given)
{
    // A run's transfers share its session with its wires; wpisim's resets
    // and flashes are sessions of their own.
    if (!reset && started_out == nullptr && firmware_given == nullptr) {
        BoardClient *shared = run_session(named);
        if (shared == nullptr)
            return nullptr;
        return std::make_unique<SessionPeer>(*shared);
    }
    return connect_board(named, reset, started_out, firmware_given, nullptr);
}

std::unique_ptr<Peer> make_board_peer_of(const std::string &name, bool reset, bool *started,
                                         const Firmware *firmware)
{
    const BenchBoard *b = bench_board(name);
    if (b == nullptr)
        fail("board " + quoted(name), "not a board of the bench (" + bench_board_names() + ")");
    return connect_board(true, reset, started, firmware, b);
}

namespace
{

std::unique_ptr<BoardClient> connect_board(bool named, bool reset, bool *started_out,
                                           const Firmware *firmware_given, const BenchBoard *b)
{
    const std::string &program = board_files().program;
    if (program.empty()) {
        if (named)
            fail("WPISIM_PEER=board", "this build has no simulated board (it needs simavr and "
                                      "the AVR toolchain)");
        return nullptr;
    }
    // A set-up that succeeds leaves errno as it found it, whatever finding
    // the board process took.
    struct KeepErrno {
        int saved = errno;
        ~KeepErrno() { errno = saved; }
    } keep;
    // This build has the board: anything missing from here on is an error, never
    // a quiet fall back to another peer that would answer differently.
    const BenchBoard &first = first_board();
    if (b == nullptr)
        b = &first;
    const Checked asked =
        check_firmware(firmware_given != nullptr ? *firmware_given : firmware_of(*b));
    // The board process starts with the bench's first board; others join it.
    const Checked starts = b == &first ? asked : check_firmware(firmware_of(first));
    if (access(program.c_str(), X_OK) != 0)
        fail("board program " + quoted(program), std::strerror(errno));
    bool started = false;
    std::int32_t pid = 0;
    const int fd =
        connect_board_process(starts.path, *starts.chosen.kind, first.name, &started, &pid);
    if (started_out != nullptr)
        *started_out = started;
    // A board this run just started is fresh from reset: resetting it again
    // would run the sketch's setup() twice.
    const bool fresh = (reset || reset_asked()) && !(started && b == &first);
    auto board = std::make_unique<BoardClient>(fd, pid);
    // wpisim's reset, on its own or after a flash, fits whichever clock the
    // board is on: it makes no transfer.
    say_hello(*board, *b, asked, fresh, reset, started);
    Record("board-firmware").text("path", asked.chosen.path).emit();
    return board;
}

} // namespace

SerialLink *serial_link()
{
    return run_session(false);
}

} // namespace wpisim
