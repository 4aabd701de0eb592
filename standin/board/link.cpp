// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "link.hpp"

#include "clock.hpp"
#include "event_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
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
        const ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
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

// One message whole by the deadline.
bool read_message(int fd, Header *header, std::string *payload, std::int64_t deadline_ns,
                  std::string *why)
{
    if (!read_all(fd, reinterpret_cast<char *>(header), sizeof *header, deadline_ns, why))
        return false;
    if (header->size > max_payload) {
        *why = "a message too large";
        return false;
    }
    payload->assign(header->size, '\0');
    return read_all(fd, payload->data(), payload->size(), deadline_ns, why);
}

} // namespace

bool send_message(int fd, Kind kind, const void *head, std::size_t head_size, const void *tail,
                  std::size_t tail_size, std::int64_t deadline_ns, std::string *why)
{
    std::string message(sizeof(Header) + head_size + tail_size, '\0');
    const Header header{kind, static_cast<std::uint32_t>(head_size + tail_size)};
    std::memcpy(message.data(), &header, sizeof header);
    if (head_size > 0)
        std::memcpy(message.data() + sizeof header, head, head_size);
    if (tail_size > 0)
        std::memcpy(message.data() + sizeof header + head_size, tail, tail_size);
    return send_all(fd, message.data(), message.size(), deadline_ns, why);
}

bool read_answer(int fd, Header *header, std::string *payload, std::int64_t deadline_ns,
                 std::string *why)
{
    for (;;) {
        if (!read_message(fd, header, payload, deadline_ns, why))
            return false;
        if (header->kind == log_lines) {
            append_records(*payload);
            continue;
        }
        if (header->kind != working)
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
