// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "run_hold.hpp"

#include "diagnostic.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

std::mutex exchange_lock;
std::atomic<std::int64_t> next{-1};
std::atomic<void (*)()> boards_to_now{nullptr};
int fd = -1;
bool boards = false;

bool whole(ssize_t (*io)(int, void *, std::size_t), void *data, std::size_t size)
{
    auto *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = io(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

ssize_t read_some(int f, void *data, std::size_t size)
{
    return read(f, data, size);
}

ssize_t send_some(int f, void *data, std::size_t size)
{
    return send(f, data, size, MSG_NOSIGNAL);
}

// wpisim's next order; a wpisim that has gone leaves the clock free.
void take_order()
{
    HoldOrder order{};
    if (!whole(read_some, &order, sizeof order)) {
        close(fd);
        fd = -1;
        next = -1;
        return;
    }
    boards = order.boards != 0;
    next = order.at_ns;
}

// The first call opens the link wpisim gave, if it gave one, and takes the
// first order. Children the program starts do not inherit it.
bool linked()
{
    static const bool is = [] {
        const char *text = std::getenv("WPISIM_RUN_FD");
        if (text == nullptr)
            return false;
        char *end = nullptr;
        const long n = std::strtol(text, &end, 10);
        struct stat st {
        };
        if (end == text || *end != '\0' || n < 3 || n > 1023 ||
            fstat(static_cast<int>(n), &st) != 0 || !S_ISSOCK(st.st_mode))
            fail("WPISIM_RUN_FD=" + quoted(text), "not the socket wpisim run gives its program");
        fd = static_cast<int>(n);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        std::lock_guard<std::mutex> hold(exchange_lock);
        take_order();
        return true;
    }();
    return is;
}

} // namespace

std::int64_t run_next_hold()
{
    if (!linked())
        return -1;
    return next.load(std::memory_order_acquire);
}

void run_reach_hold(std::int64_t at_ns)
{
    std::lock_guard<std::mutex> hold(exchange_lock);
    if (fd < 0 || next.load() != at_ns)
        return;
    if (boards) {
        if (void (*to_now)() = boards_to_now.load())
            to_now();
    }
    HoldReached reached{at_ns};
    if (!whole(send_some, &reached, sizeof reached)) {
        close(fd);
        fd = -1;
        next = -1;
        return;
    }
    take_order();
}

void on_run_hold_boards(void (*to_now)())
{
    boards_to_now = to_now;
}

} // namespace wpisim
