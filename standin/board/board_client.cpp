// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The simulated board outlives the process, as a real one stays powered: it
// runs in the board process, wpisim-board, started on first use and reached
// through a unix socket in the state directory. Runs at once share it, as
// programs on a Pi share its bus. Where no board program was built, there is
// no board.

#include "board_client.hpp"

#include "bench_clock.hpp"
#include "clock.hpp"
#include "diagnostic.hpp"
#include "event_log.hpp"
#include "firmware_check.hpp"
#include "flash_store.hpp"
#include "link.hpp"
#include "settings.hpp"
#include "state_dir.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef BOARD_PROGRAM
#define BOARD_PROGRAM ""
#endif
#ifndef BOARD_FIRMWARE
#define BOARD_FIRMWARE ""
#endif
// A cross build's emulator, as C strings and commas, to start the board program with.
#ifndef BOARD_LAUNCHER
#define BOARD_LAUNCHER
#endif

namespace wpisim
{

namespace
{

using link::Header;

constexpr std::int64_t second_ns = 1000000000;
// A board process answers a hello or an exchange in microseconds, or says
// it is working on it; this leaves room for a loaded machine or an emulator.
constexpr std::int64_t answer_margin_ns = link::silence_limit_ns;
// Booting runs at most a simulated second of the AVR.
constexpr std::int64_t start_limit_ns = 20 * second_ns;
// A hello may boot other firmware, in a board process that is already running.
constexpr std::int64_t hello_limit_ns = 10 * second_ns;

[[noreturn]] void board_failed(const std::string &why)
{
    fail("board", why);
}

std::string in_state_dir(const char *name)
{
    return state_dir_path() + "/" + name;
}

// A file of the board's in the state directory must be this user's: another
// user's socket or lock would let them steer, or hang, this user's runs.
void check_owner(const char *name, bool socket_expected)
{
    struct stat st {
    };
    if (fstatat(state_dir_fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    require_own(st.st_uid, name);
    if (socket_expected && !S_ISSOCK(st.st_mode))
        fail(std::string(name) + " " + quoted(in_state_dir(name)), "not a socket");
}

// Connects to the board process's socket; -1 when none listens there. pid,
// if given, receives the board process's, as the kernel tells it.
int connect_socket(std::int32_t *pid = nullptr)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = in_state_dir("board.sock");
    if (path.size() >= sizeof addr.sun_path)
        fail("board socket " + quoted(path), "path too long for a unix socket");
    check_owner("board.sock", true);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        board_failed(std::strerror(errno));
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    // Whoever listens must be this user too.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid != geteuid())
        fail("board process " + std::to_string(peer.pid),
             "runs as uid " + std::to_string(peer.uid) + ", not as you");
    if (pid != nullptr)
        *pid = peer.pid;
    return fd;
}

struct Started {
    bool ok = false;
    std::string why;
};

// Starts the board process with the lock this run holds, and waits for it to
// say it is ready or why it cannot start.
Started start_board_process(int lock, const std::string &firmware, const BoardKind &kind)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        board_failed(std::strerror(errno));
    const std::string dir = state_dir_path();
    std::vector<std::string> words{BOARD_LAUNCHER};
    words.insert(words.end(), {BOARD_PROGRAM, "--state-dir", dir, "--firmware", firmware, "--board",
                               kind.name, "--ready-fd", "3", "--lock-fd", "4"});
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0)
        board_failed(std::strerror(errno));
    if (child == 0) {
        // Twice, so the board process is nobody's child: it outlives this run.
        if (fork() != 0)
            _exit(0);
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0 ||
            dup2(ready[1], 3) < 0 || dup2(lock, 4) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        const char *why = std::strerror(errno);
        const ssize_t ignored = write(3, why, std::strlen(why));
        (void)ignored;
        _exit(127);
    }
    close(ready[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The board says "ok", or why not, and closes its end.
    std::string said;
    const std::int64_t deadline = now_ns() + start_limit_ns;
    char buffer[512];
    for (;;) {
        const std::int64_t left = deadline - now_ns();
        if (left <= 0) {
            close(ready[0]);
            return {false, "the board process did not start in " +
                               std::to_string(start_limit_ns / second_ns) + " s"};
        }
        pollfd p{ready[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left / 1000000 + 1)) <= 0)
            continue;
        const ssize_t n = read(ready[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        said.append(buffer, static_cast<std::size_t>(n));
    }
    close(ready[0]);
    if (said == "ok")
        return {true, ""};
    if (said.empty())
        return {false, "the board process ended while starting"};
    return {false, said};
}

// A lock file of this user's, opened to take the start lock on.
int open_lock()
{
    check_owner("board.lock", false);
    const int fd = openat(state_dir_fd(), "board.lock",
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        fail("board lock " + quoted(in_state_dir("board.lock")), std::strerror(errno));
    return fd;
}

class BoardClient : public Peer
{
  public:
    BoardClient(int fd, std::int32_t pid) : fd_(fd), pid_(pid) {}
    ~BoardClient() override { close(fd_); }

    link::HelloAnswer hello(bool fresh, std::uint64_t firmware, const BoardKind &kind,
                            const std::string &path, std::string *reason)
    {
        link::HelloRequest req{};
        std::snprintf(req.board, sizeof req.board, "%s", kind.name);
        req.fresh = fresh ? 1 : 0;
        req.firmware = firmware;
        req.virtual_time = virtual_time() ? 1 : 0;
        req.now_ns = bench_now_ns();
        std::string why;
        Header header{};
        std::string payload;
        const std::int64_t deadline = now_ns() + hello_limit_ns;
        if (!link::send_message(fd_, link::hello, &req, sizeof req, path.data(), path.size(),
                                deadline, &why) ||
            !link::read_answer(fd_, &header, &payload, deadline, &why))
            unanswered("hello", why);
        link::HelloAnswer answer{};
        if (header.kind != link::hello_answer || payload.size() < sizeof answer)
            unanswered("hello", "an answer out of step");
        std::memcpy(&answer, payload.data(), sizeof answer);
        *reason = payload.substr(sizeof answer);
        pid_ = answer.pid;
        return answer;
    }

    void exchange(unsigned char *data, int len, std::int64_t start_ns, std::int64_t bit_ns) override
    {
        link::ExchangeRequest req{};
        req.len = len;
        req.start_ns = start_ns;
        req.bit_ns = bit_ns;
        std::string why;
        Header header{};
        std::string payload;
        // The transfer's own time on the wire, and the margin for a busy host.
        const std::int64_t deadline = now_ns() + bit_ns * 8 * len + answer_margin_ns;
        if (!link::send_message(fd_, link::exchange, &req, sizeof req, data,
                                static_cast<std::size_t>(len), deadline, &why) ||
            !link::read_answer(fd_, &header, &payload, deadline, &why))
            unanswered("transfer", why);
        link::ExchangeAnswer answer{};
        if (header.kind != link::exchange_answer ||
            payload.size() != sizeof answer + static_cast<std::size_t>(len))
            unanswered("transfer", "an answer out of step");
        std::memcpy(&answer, payload.data(), sizeof answer);
        std::memcpy(data, payload.data() + sizeof answer, static_cast<std::size_t>(len));
        const link::BoardReport &report = answer.report;
        began_ns_ = answer.start_ns;
        remote_cpu_ns_ = report.cpu_ns;
        d5_ = report.d5;
        d6_ = report.d6;
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
    }

    std::int64_t began_ns() const override { return began_ns_; }
    // The board's SS is wired to CE0.
    bool answers_on(int channel) const override { return channel == 0; }
    std::int64_t remote_cpu_ns() const override { return remote_cpu_ns_; }
    bool outputs(int &d5, int &d6) const override
    {
        d5 = d5_;
        d6 = d6_;
        return true;
    }
    const char *name() const override { return "board"; }

  private:
    [[noreturn]] void unanswered(const char *what, const std::string &why) const
    {
        board_failed("the board process (pid " + std::to_string(pid_) + ") failed the " + what +
                     ": " + why);
    }

    int fd_;
    std::int32_t pid_;
    std::int64_t began_ns_ = 0;
    std::int64_t remote_cpu_ns_ = 0;
    int d5_ = 0;
    int d6_ = 0;
    bool stop_told_ = false;
};

// WPISIM_BOARD: the kind of board the firmware runs on, or null.
const BoardKind *board_kind_asked()
{
    const auto name = setting_text("WPISIM_BOARD");
    return name ? find_board_kind(*name) : nullptr;
}

bool reset_asked()
{
    return setting_flag("WPISIM_BOARD_RESET");
}

// The link to the board process for this state directory, starting one if
// none runs. Exactly one of the runs that find none starts it: the one that
// takes the lock; the others wait for its socket.
std::unique_ptr<BoardClient> connect_board(const std::string &firmware, const BoardKind &kind,
                                           bool *started)
{
    const std::int64_t deadline = now_ns() + start_limit_ns;
    std::string why =
        "the board process did not start in " + std::to_string(start_limit_ns / second_ns) + " s";
    *started = false;
    while (now_ns() < deadline) {
        std::int32_t pid = 0;
        if (const int fd = connect_socket(&pid); fd >= 0)
            return std::make_unique<BoardClient>(fd, pid);
        const int lock = open_lock();
        if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
            // No board process holds the lock: this run starts one, which
            // takes the lock over for its life.
            const Started s = start_board_process(lock, firmware, kind);
            close(lock);
            if (!s.ok)
                board_failed(s.why);
            *started = true;
            if (const int fd = connect_socket(&pid); fd >= 0)
                return std::make_unique<BoardClient>(fd, pid);
            why = "the board process started but does not listen";
            break;
        }
        close(lock);
        // Another run is starting it, or an old one is ending.
        sleep_until_ns(now_ns() + 1000000);
    }
    board_failed(why);
}

} // namespace

Firmware chosen_firmware()
{
    Firmware f;
    const BoardKind *asked = board_kind_asked();
    if (const auto named = setting_text("WPISIM_FIRMWARE")) {
        f.path = *named;
        f.what = "WPISIM_FIRMWARE=" + quoted(f.path);
    } else if (const auto flash = flashed()) {
        f.path = flash->image;
        f.kind = flash->kind;
        f.what = "flash " + quoted(flash->name);
    } else {
        f.path = BOARD_FIRMWARE;
        f.what = "firmware " + quoted(f.path);
    }
    if (asked != nullptr)
        f.kind = asked;
    if (f.kind == nullptr)
        f.kind = &default_board_kind();
    return f;
}

std::optional<BoardStatus> board_status()
{
    const int fd = connect_socket();
    if (fd < 0)
        return std::nullopt;
    BoardStatus s;
    std::string why;
    link::Header header{};
    std::string payload;
    const std::int64_t deadline = now_ns() + answer_margin_ns;
    const bool answered =
        link::send_message(fd, link::status, nullptr, 0, nullptr, 0, deadline, &why) &&
        link::read_answer(fd, &header, &payload, deadline, &why);
    close(fd);
    if (!answered)
        board_failed("the board process failed the status: " + why);
    if (header.kind != link::status_answer || payload.size() < sizeof s.answer)
        board_failed("the board process failed the status: an answer out of step");
    std::memcpy(&s.answer, payload.data(), sizeof s.answer);
    s.firmware = payload.substr(sizeof s.answer);
    return s;
}

std::unique_ptr<Peer> make_board_peer(bool named, bool reset)
{
    if (*BOARD_PROGRAM == '\0') {
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
    const Firmware chosen = chosen_firmware();
    const std::string &given = chosen.path;
    std::string firmware = given;
    const std::string &what = chosen.what;
    const BoardKind &kind = *chosen.kind;
    std::string content;
    const std::string refused = firmware_problem(firmware, kind, &content);
    if (!refused.empty())
        fail(what, refused);
    // The board process runs elsewhere: it needs the path from the root.
    if (char *full = realpath(firmware.c_str(), nullptr)) {
        firmware = full;
        std::free(full);
    }
    if (access(BOARD_PROGRAM, X_OK) != 0)
        fail("board program " + quoted(BOARD_PROGRAM), std::strerror(errno));
    const bool fresh = reset || reset_asked();

    bool started = false;
    std::unique_ptr<BoardClient> board = connect_board(firmware, kind, &started);
    std::string reason;
    const link::HelloAnswer answer =
        board->hello(fresh, link::content_id(content, kind.name), kind, firmware, &reason);
    if (answer.ok == 0)
        fail(answer.about_time != 0
                 ? std::string("WPISIM_TIME=") + (virtual_time() ? "virtual" : "wall")
                 : what,
             reason);
    Record("board-link")
        .num("board_pid", answer.pid)
        .num("started", started ? 1 : 0)
        .num("reset", answer.reset)
        .emit();
    Record("board-firmware").text("path", given).emit();
    return board;
}

} // namespace wpisim
