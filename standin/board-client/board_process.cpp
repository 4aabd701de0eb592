// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The board process outlives the run, as a real board stays powered: started
// on first use and reached through a unix socket in the state directory, the
// socket, its lock and the process all this user's own.

#include "board_process.hpp"

#include "bench_clock.hpp"
#include "clock.hpp"
#include "diagnostic.hpp"
#include "install_layout.hpp"
#include "message.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"

#include <cerrno>
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

namespace wpisim
{

namespace
{

constexpr std::int64_t second_ns = 1000000000;
// Booting runs at most a simulated second of the AVR.
constexpr std::int64_t start_limit_ns = 20 * second_ns;

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

struct Started {
    bool ok = false;
    std::string why;
};

// The board program's command line, and the same through a cross build's
// emulator.
struct Command {
    std::vector<std::string> words;
    std::vector<std::string> launched;
    bool may_launch = false;
};

Command board_command(const std::string &firmware, const BoardKind &kind, const std::string &name)
{
    const BoardFiles &files = board_files();
    Command c;
    c.words = {files.program,
               "--state-dir",
               state_dir_path(),
               "--firmware",
               firmware,
               "--board",
               kind.name,
               "--name",
               name,
               "--time",
               virtual_time() ? "virtual" : "wall",
               "--ready-fd",
               "3",
               "--lock-fd",
               "4"};
    c.launched = files.launcher;
    c.launched.insert(c.launched.end(), c.words.begin(), c.words.end());
    if (files.launcher_always)
        c.words = c.launched;
    // An installed package's board program for another machine (a cross
    // build's, tried where it was built) runs through the build's emulator.
    c.may_launch = !files.launcher.empty() && !files.launcher_always;
    return c;
}

// Made before the fork: the child only executes.
std::vector<char *> argv_of(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    return argv;
}

// Starts the board process with the lock this run holds, and waits for it to
// say it is ready or why it cannot start.
Started start_board_process(int lock, const std::string &firmware, const BoardKind &kind,
                            const std::string &name)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        board_failed(std::strerror(errno));
    Command command = board_command(firmware, kind, name);
    const std::vector<char *> argv = argv_of(command.words);
    const std::vector<char *> argv_launched = argv_of(command.launched);

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
        if (errno == ENOEXEC && command.may_launch)
            execv(argv_launched[0], argv_launched.data());
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
    check_owner(state_files::board_lock, false);
    const int fd = openat(state_dir_fd(), state_files::board_lock,
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        fail("board lock " + quoted(in_state_dir(state_files::board_lock)), std::strerror(errno));
    return fd;
}

// With the lock held, no board process runs: its terminals' links are a dead
// one's, whose pseudo-terminal numbers another program may have by now.
void clear_dead_board()
{
    for (const char *tty : {state_files::board_tty, state_files::pi_tty}) {
        struct stat st {
        };
        if (fstatat(state_dir_fd(), tty, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) &&
            st.st_uid == geteuid())
            unlinkat(state_dir_fd(), tty, 0);
    }
}

} // namespace

void forget_dead_board()
{
    const int lock = open_lock();
    if (flock(lock, LOCK_EX | LOCK_NB) == 0)
        clear_dead_board();
    close(lock);
}

// Connects to the board process's socket; -1 when none listens there. pid,
// if given, receives the board process's, as the kernel tells it.
int find_board_process(std::int32_t *pid)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = in_state_dir(state_files::board_socket);
    if (path.size() >= sizeof addr.sun_path)
        fail("board socket " + quoted(path), "path too long for a unix socket");
    check_owner(state_files::board_socket, true);
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

// The link to the board process for this state directory, starting one if
// none runs. Exactly one of the runs that find none starts it: the one that
// takes the lock; the others wait for its socket.
int connect_board_process(const std::string &firmware, const BoardKind &kind,
                          const std::string &name, bool *started, std::int32_t *pid)
{
    const std::int64_t deadline = now_ns() + start_limit_ns;
    std::string why =
        "the board process did not start in " + std::to_string(start_limit_ns / second_ns) + " s";
    *started = false;
    while (now_ns() < deadline) {
        if (const int fd = find_board_process(pid); fd >= 0)
            return fd;
        const int lock = open_lock();
        if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
            // No board process holds the lock: this run starts one, which
            // takes the lock over for its life.
            clear_dead_board();
            const Started s = start_board_process(lock, firmware, kind, name);
            close(lock);
            if (!s.ok)
                board_failed(s.why);
            *started = true;
            if (const int fd = find_board_process(pid); fd >= 0)
                return fd;
            why = "the board process started but does not listen";
            break;
        }
        close(lock);
        // Another run is starting it, or an old one is ending.
        sleep_until_ns(now_ns() + 1000000);
    }
    board_failed(why);
}

} // namespace wpisim
