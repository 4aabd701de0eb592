// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "debug_stub.hpp"

#include <sim_gdb.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

std::set<int> open_sockets()
{
    std::set<int> fds;
    if (DIR *d = opendir("/proc/self/fd")) {
        // One thread, and this is its only use of the directory stream.
        // cppcheck-suppress readdirCalled
        while (const dirent *e = readdir(d)) {
            struct stat st {
            };
            char *end = nullptr;
            const long fd = std::strtol(e->d_name, &end, 10);
            if (*end == '\0' && end != e->d_name && fd != dirfd(d) &&
                fstat(static_cast<int>(fd), &st) == 0 && S_ISSOCK(st.st_mode))
                fds.insert(static_cast<int>(fd));
        }
        closedir(d);
    }
    return fds;
}

// A listening socket on 127.0.0.1:port, and its port; -1 and why not.
int listen_loopback(int port, int *bound, std::string *why)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    // A debugger's connection just closed leaves the port in TIME_WAIT.
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 1) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) != 0) {
        *why = errno == EADDRINUSE ? "port " + std::to_string(port) + " is in use"
                                   : "port " + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    *bound = ntohs(a.sin_port);
    return fd;
}

} // namespace

int open_debug_stub(avr_t *avr, int port, std::string *why)
{
    int bound = 0;
    const int ours = listen_loopback(port, &bound, why);
    if (ours < 0)
        return -1;
    // simavr's stub, opening and closing, sets the AVR's sleep to one that
    // sleeps the host: the board's own never does.
    const auto sleep = avr->sleep;
    avr_deinit_gdb(avr);
    // Let go by the old stub's debugger, as when it detaches.
    if (avr->state == cpu_Stopped || avr->state == cpu_Step || avr->state == cpu_StepDone)
        avr->state = cpu_Running;
    // simavr binds its stub to every interface, at the port asked: asked for
    // any port, it gets one for a moment, and its socket is then ours.
    const std::set<int> before = open_sockets();
    avr->gdb_port = 0;
    const int started = avr_gdb_init(avr);
    avr->sleep = sleep;
    int theirs = -1;
    if (started == 0)
        for (const int fd : open_sockets())
            if (before.count(fd) == 0)
                theirs = fd;
    if (theirs < 0 || dup2(ours, theirs) < 0) {
        avr_deinit_gdb(avr);
        avr->sleep = sleep;
        close(ours);
        *why = "the simulator's debugger stub did not start";
        return -1;
    }
    close(ours);
    fcntl(theirs, F_SETFD, FD_CLOEXEC);
    // A crash halts the AVR for the debugger rather than ending it.
    avr->gdb_port = bound;
    return bound;
}

} // namespace wpisim
