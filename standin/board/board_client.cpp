// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The simulated board outlives the process, as a real one stays powered: it
// runs in a board process of its own, started on first use and reached
// through a unix socket in the state directory. The board process ends by
// itself after ten idle minutes, or as soon as its socket is removed (a test's
// state directory going away). Where no board module was built, there is no
// board.

#include "board_client.hpp"
#include "clock.hpp"
#include "diagnostic.hpp"
#include "event_log.hpp"
#include "firmware_check.hpp"
#include "link.hpp"
#include "state_dir.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
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

#ifndef BOARD_MODULE
#define BOARD_MODULE ""
#endif
#ifndef BOARD_FIRMWARE
#define BOARD_FIRMWARE ""
#endif

namespace wpisim
{

namespace
{

constexpr std::int64_t idle_end_ns = 600LL * 1000000000; // ten minutes
constexpr int watch_ms = 200;                            // how often the socket is looked for
constexpr std::int64_t start_wait_ns = 10LL * 1000000000;

// The board process's answers to a hello.
constexpr char hello_ok = 'k';       // this board runs the firmware asked for
constexpr char hello_ending = 'x';   // a fresh board or other firmware asked: it ends
constexpr char hello_no_board = 'n'; // the firmware does not run

struct Hello {
    std::uint8_t fresh;
    std::uint8_t pad[3];
    std::uint32_t identity_len;
};

struct Request {
    std::int32_t len;
    std::int32_t pad;
    std::int64_t start_ns;
    std::int64_t bit_ns;
};

// Repeats a send or a read through EINTR and short counts until size bytes have gone.
template <class Step> bool whole(std::size_t size, Step step)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool send_all(int fd, const void *data, std::size_t size)
{
    const auto *p = static_cast<const char *>(data);
    return whole(size,
                 [&](std::size_t done) { return send(fd, p + done, size - done, MSG_NOSIGNAL); });
}

bool read_all(int fd, void *data, std::size_t size)
{
    auto *p = static_cast<char *>(data);
    return whole(size, [&](std::size_t done) { return read(fd, p + done, size - done); });
}

bool socket_address(const std::string &path, sockaddr_un *addr)
{
    *addr = sockaddr_un{};
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path)
        return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The firmware a board runs, as its file is now: a rebuilt or another ELF is
// a board flashed anew.
std::string identity(const char *firmware)
{
    struct stat st {
    };
    if (stat(firmware, &st) != 0)
        return "";
    return std::string(firmware) + ' ' + std::to_string(st.st_size) + ' ' +
           std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

// ---- The board process ----------------------------------------------------

struct Module {
    Peer *(*make)(const char *) = nullptr;
    void (*report)(const Peer *, BoardReport *) = nullptr;
};

bool load_module(Module *m)
{
    if (*BOARD_MODULE == '\0')
        return false;
    void *module = dlopen(BOARD_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return false;
    m->make = reinterpret_cast<Peer *(*)(const char *)>(dlsym(module, "wpisim_board_peer"));
    m->report = reinterpret_cast<void (*)(const Peer *, BoardReport *)>(
        dlsym(module, "wpisim_board_report"));
    // The module stays loaded for the life of the board process: the board's code lives there.
    // cppcheck-suppress resourceLeak
    return m->make != nullptr && m->report != nullptr;
}

// Nothing of the process it was forked from is kept: not its descriptors
// (a test reads the program's pipes to their end), its log or its terminal.
void detach()
{
    const long open_max = sysconf(_SC_OPEN_MAX);
    for (int fd = 0; fd < (open_max > 0 && open_max < 65536 ? open_max : 1024); ++fd)
        close(fd);
    const int null = open("/dev/null", O_RDWR);
    if (null == 0) {
        dup2(0, 1);
        dup2(0, 2);
    }
    unsetenv("WPISIM_LOG");
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
}

ino_t inode_of(const std::string &path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Answers one request; false when the client is done with the board.
bool serve(int fd, Peer *board, const Module &m, const std::string &id, bool *end)
{
    Hello asked_for{};
    Request req{};
    char kind = 0;
    if (!read_all(fd, &kind, 1))
        return false;
    if (kind == 'h') {
        if (!read_all(fd, &asked_for, sizeof asked_for) || asked_for.identity_len > 4096)
            return false;
        std::string asked(asked_for.identity_len, '\0');
        if (!read_all(fd, asked.data(), asked.size()))
            return false;
        char answer = hello_ok;
        if (board == nullptr)
            answer = hello_no_board;
        else if (asked_for.fresh != 0 || asked != id)
            answer = hello_ending;
        if (answer != hello_ok)
            *end = true;
        const std::int32_t pid = getpid();
        send_all(fd, &answer, 1);
        send_all(fd, &pid, sizeof pid);
        return answer == hello_ok;
    }
    if (kind != 'e' || board == nullptr || !read_all(fd, &req, sizeof req) || req.len < 0 ||
        req.len > 65536)
        return false;
    std::vector<unsigned char> data(static_cast<std::size_t>(req.len));
    if (!read_all(fd, data.data(), data.size()))
        return false;
    const std::int64_t cpu = thread_cpu_ns();
    board->exchange(data.data(), req.len, req.start_ns, req.bit_ns);
    BoardReport report{};
    m.report(board, &report);
    report.cpu_ns = thread_cpu_ns() - cpu;
    return send_all(fd, &report, sizeof report) && send_all(fd, data.data(), data.size());
}

[[noreturn]] void board_process(const std::string &dir, const std::string &sock,
                                const char *firmware, const std::string &id)
{
    detach();
    // One board process per state directory: the lock is held for life. One
    // that is ending lets go at once; one that holds on is serving.
    const int lock = open((dir + "/board.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const std::int64_t give_up = now_ns() + 2000000000;
    while (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (now_ns() > give_up)
            _exit(0);
        sleep_until_ns(now_ns() + 1000000);
    }
    if (lock < 0)
        _exit(1);
    sockaddr_un addr{};
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(sock.c_str());
    if (!socket_address(sock, &addr) || listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listener, 8) != 0)
        _exit(1);
    const ino_t ours = inode_of(sock);

    Module m;
    Peer *board = load_module(&m) ? m.make(firmware) : nullptr;

    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    std::int64_t last = now_ns();
    bool end = false;
    while (!end && now_ns() - last < idle_end_ns && inode_of(sock) == ours) {
        if (poll(fds.data(), fds.size(), watch_ms) <= 0)
            continue;
        last = now_ns();
        for (std::size_t i = fds.size(); i-- > 1;)
            if (fds[i].revents != 0 && !serve(fds[i].fd, board, m, id, &end)) {
                close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        if ((fds[0].revents & POLLIN) != 0) {
            const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                fds.push_back({client, POLLIN, 0});
        }
    }
    if (inode_of(sock) == ours)
        unlink(sock.c_str());
    _exit(0);
}

void start_board_process(const std::string &dir, const std::string &sock, const char *firmware,
                         const std::string &id)
{
    const pid_t child = fork();
    if (child < 0)
        fail("board", std::strerror(errno));
    if (child == 0) {
        // Twice, so the board process is nobody's child and has no terminal.
        setsid();
        if (fork() == 0)
            board_process(dir, sock, firmware, id);
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

// ---- The stand-in's side --------------------------------------------------

// Connects and says hello; the answer, or 0 when no board process listens.
char hello(const std::string &sock, const std::string &id, bool fresh, int *fd, std::int32_t *pid)
{
    sockaddr_un addr{};
    socket_address(sock, &addr);
    *fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (*fd < 0)
        fail("board", std::strerror(errno));
    Hello h{};
    h.fresh = fresh ? 1 : 0;
    h.identity_len = static_cast<std::uint32_t>(id.size());
    char answer = 0;
    if (connect(*fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        !send_all(*fd, "h", 1) || !send_all(*fd, &h, sizeof h) ||
        !send_all(*fd, id.data(), id.size()) || !read_all(*fd, &answer, 1) ||
        !read_all(*fd, pid, sizeof *pid)) {
        close(*fd);
        *fd = -1;
        return 0;
    }
    return answer;
}

class BoardClient : public Peer
{
  public:
    explicit BoardClient(int fd) : fd_(fd) {}
    ~BoardClient() override { close(fd_); }

    void exchange(unsigned char *data, int len, std::int64_t start_ns, std::int64_t bit_ns) override
    {
        Request req{};
        req.len = len;
        req.start_ns = start_ns;
        req.bit_ns = bit_ns;
        BoardReport report{};
        if (!send_all(fd_, "e", 1) || !send_all(fd_, &req, sizeof req) ||
            !send_all(fd_, data, static_cast<std::size_t>(len)) ||
            !read_all(fd_, &report, sizeof report) ||
            !read_all(fd_, data, static_cast<std::size_t>(len)))
            fail("board", "the board process ended");
        remote_cpu_ns_ = report.cpu_ns;
        d5_ = report.d5;
        d6_ = report.d6;
        static const char *const states[] = {"running", "stopped", "crashed"};
        const char *state = states[report.state >= 0 && report.state <= 2 ? report.state : 2];
        Record("board")
            .num("cycle", report.cycle)
            .num("d5", report.d5)
            .num("d6", report.d6)
            .text("miso_idle", report.miso_driven != 0 ? "driven" : "released")
            .num("wcol", report.wcol)
            .text("state", state)
            .emit();
        // Said once a run: a stopped board still answers, with echoes.
        if (report.state != board_running && !stop_told_) {
            stop_told_ = true;
            std::fprintf(stderr,
                         "wpisim: board stopped: the firmware %s at pc 0x%04x; its SPI now "
                         "echoes each byte one byte late\n",
                         report.state == board_stopped ? "slept with interrupts off" : "crashed",
                         static_cast<unsigned>(report.pc));
        }
    }

    std::int64_t remote_cpu_ns() const override { return remote_cpu_ns_; }
    bool outputs(int &d5, int &d6) const override
    {
        d5 = d5_;
        d6 = d6_;
        return true;
    }
    const char *name() const override { return "board"; }

  private:
    int fd_;
    std::int64_t remote_cpu_ns_ = 0;
    int d5_ = 0;
    int d6_ = 0;
    bool stop_told_ = false;
};

Peer *connect_board(const char *firmware)
{
    if (*BOARD_MODULE == '\0' || *firmware == '\0')
        return nullptr;
    const std::string id = identity(firmware);
    if (id.empty())
        return nullptr;
    const char *reset = std::getenv("WPISIM_BOARD_RESET");
    if (reset != nullptr && *reset != '\0' && std::strcmp(reset, "0") != 0 &&
        std::strcmp(reset, "1") != 0)
        fail("WPISIM_BOARD_RESET=" + quoted(reset), "not 0 or 1");
    bool fresh = reset != nullptr && std::strcmp(reset, "1") == 0;

    state_dir_fd();
    const std::string dir = state_dir_path();
    const std::string sock = dir + "/board.sock";
    sockaddr_un addr{};
    if (!socket_address(sock, &addr))
        fail("board socket " + quoted(sock), "path too long for a unix socket");

    int fd = -1;
    std::int32_t pid = 0;
    char answer = hello(sock, id, fresh, &fd, &pid);
    if (answer == hello_ok) {
        Record("board-link").num("board_pid", pid).num("started", 0).emit();
        return new BoardClient(fd);
    }
    if (fd >= 0)
        close(fd);
    // None listens, or the one that did is ending: start a board afresh.
    start_board_process(dir, sock, firmware, id);
    fresh = false;
    const std::int64_t deadline = now_ns() + start_wait_ns;
    while (now_ns() < deadline) {
        answer = hello(sock, id, fresh, &fd, &pid);
        if (answer == hello_ok) {
            Record("board-link").num("board_pid", pid).num("started", 1).emit();
            return new BoardClient(fd);
        }
        if (fd >= 0)
            close(fd);
        if (answer == hello_no_board)
            return nullptr;
        // The old board may still be ending, or the new one booting.
        sleep_until_ns(now_ns() + 200000);
    }
    fail("board", "the board process did not start");
}

} // namespace

std::unique_ptr<Peer> make_board_peer(bool named)
{
    if (*BOARD_MODULE == '\0') {
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
    const char *asked = std::getenv("WPISIM_FIRMWARE");
    const bool chosen = asked != nullptr && *asked != '\0';
    const std::string firmware = chosen ? asked : BOARD_FIRMWARE;
    const std::string what = (chosen ? "WPISIM_FIRMWARE=" : "firmware ") + quoted(firmware);
    const std::string refused = firmware_problem(firmware);
    if (!refused.empty())
        fail(what, refused);
    // The board process loads the module; a missing one is said here, where
    // the user sees it.
    if (access(BOARD_MODULE, R_OK) != 0)
        fail("simulated board module " + quoted(BOARD_MODULE), std::strerror(errno));
    Peer *board = connect_board(firmware.c_str());
    if (board == nullptr)
        fail(what, "the board did not start");
    Record("board-firmware").text("path", firmware).emit();
    return std::unique_ptr<Peer>(board);
}

} // namespace wpisim
