// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "link.hpp"

#include "clock.hpp"
#include "event_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace wpisim::link
{

namespace
{

// Waits until fd is ready for events, or the deadline passes.
bool ready(int fd, short events, std::int64_t deadline_ns, std::string *why)
{
    for (;;) {
        const std::int64_t left = deadline_ns - now_ns();
        if (left <= 0) {
            *why = "no answer in time";
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(left / 1000000 + 1));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR) {
            *why = std::strerror(errno);
            return false;
        }
    }
}

bool send_all(int fd, const char *data, std::size_t size, std::int64_t deadline_ns,
              std::string *why)
{
    for (std::size_t done = 0; done < size;) {
        if (!ready(fd, POLLOUT, deadline_ns, why))
            return false;
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0) {
            *why = errno == EPIPE || errno == ECONNRESET ? "it ended" : std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool read_all(int fd, char *data, std::size_t size, std::int64_t deadline_ns, std::string *why)
{
    for (std::size_t done = 0; done < size;) {
        if (!ready(fd, POLLIN, deadline_ns, why))
            return false;
        const ssize_t n = recv(fd, data + done, size - done, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            *why = n == 0 || errno == ECONNRESET ? "it ended" : std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The board says a warning to every run connected, as often as it sees the
// fault: each run shows it once.
void warn_once(const std::string &line)
{
    static std::set<std::string> told;
    if (told.insert(line).second)
        std::fprintf(stderr, "%s\n", line.c_str());
}

// One message whole by the deadline.
bool read_message(int fd, Message *m, std::int64_t deadline_ns, std::string *why)
{
    std::string bytes(sizeof(Header), '\0');
    if (!read_all(fd, bytes.data(), bytes.size(), deadline_ns, why))
        return false;
    Header h{};
    std::memcpy(&h, bytes.data(), sizeof h);
    if (h.fixed_size > max_fixed || h.tail_size > max_tail) {
        *why = "a message too large";
        return false;
    }
    bytes.resize(sizeof h + h.fixed_size + h.tail_size);
    if (!read_all(fd, bytes.data() + sizeof h, bytes.size() - sizeof h, deadline_ns, why))
        return false;
    std::size_t size = 0;
    const std::string_view whole(bytes);
    return decode_front(whole, m, &size);
}

} // namespace

std::string encode(Kind kind, const void *fixed, std::size_t fixed_size, std::string_view tail)
{
    const Header h{kind, static_cast<std::uint32_t>(fixed_size),
                   static_cast<std::uint32_t>(tail.size())};
    std::string message(reinterpret_cast<const char *>(&h), sizeof h);
    if (fixed_size > 0)
        message.append(static_cast<const char *>(fixed), fixed_size);
    message.append(tail);
    return message;
}

bool decode_front(std::string_view bytes, Message *m, std::size_t *size)
{
    *size = 0;
    if (bytes.size() < sizeof(Header))
        return true;
    Header h{};
    std::memcpy(&h, bytes.data(), sizeof h);
    if (h.fixed_size > max_fixed || h.tail_size > max_tail)
        return false;
    const std::size_t whole = sizeof h + h.fixed_size + h.tail_size;
    if (bytes.size() < whole)
        return true;
    *size = whole;
    if (m == nullptr)
        return true;
    m->kind = h.kind;
    m->fixed.assign(bytes.substr(sizeof h, h.fixed_size));
    m->tail.assign(bytes.substr(sizeof h + h.fixed_size, h.tail_size));
    return true;
}

bool send(int fd, const std::string &message, std::int64_t deadline_ns, std::string *why)
{
    return send_all(fd, message.data(), message.size(), deadline_ns, why);
}

bool read_answer(int fd, Message *m, std::int64_t deadline_ns, std::string *why)
{
    for (;;) {
        if (!read_message(fd, m, deadline_ns, why))
            return false;
        if (m->kind == log_lines) {
            append_records(m->tail);
            continue;
        }
        if (m->kind == warning) {
            warn_once(m->tail);
            continue;
        }
        if (m->kind == halted)
            warn_once(m->tail);
        else if (m->kind != working)
            return true;
        deadline_ns = std::max(deadline_ns, now_ns() + silence_limit_ns);
    }
}

std::uint64_t content_id(const std::string &bytes, const std::string &board)
{
    // FNV-1a, and the length: enough to tell one build from another.
    std::uint64_t h = 0xcbf29ce484222325ULL;
    std::string named = board;
    named += '\0';
    named += bytes;
    for (const char c : named) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h ^ bytes.size();
}

} // namespace wpisim::link
