// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "event_log.hpp"

#include "hex.hpp"
#include "message.hpp"
#include "own_file.hpp"
#include "settings.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

// Named by WPISIM_LOG, or empty for no log.
const std::string &log_path()
{
    // A path is never refused, so reading it cannot fail back into the log.
    // Never destroyed: a thread of the program (an interrupt's) may still log
    // as the program exits.
    static const std::string &path = *new std::string(setting_text("WPISIM_LOG").value_or(""));
    return path;
}

[[noreturn]] void log_failed(const char *why)
{
    exit_with("WPISIM_LOG=" + quoted(log_path()), why);
}

// Opened once per process: a record costs one write, and nothing when no log is asked for.
int log_fd()
{
    static const int fd = [] {
        if (log_path().empty())
            return -1;
        const int opened =
            open_unblocked(AT_FDCWD, log_path(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        // A test reading a log that was never written would pass on nothing.
        if (opened < 0)
            log_failed(open_error(errno).c_str());
        return opened;
    }();
    return fd;
}

std::function<void(const std::string &)> &diverted()
{
    static std::function<void(const std::string &)> &sink =
        *new std::function<void(const std::string &)>;
    return sink;
}

void write_whole(const std::string &text)
{
    // O_APPEND and one write: lines from concurrent processes never mix. A log
    // with lines missing would mislead whoever reads it, so a failed write is
    // as fatal as a log that cannot be opened.
    const ssize_t written = write(log_fd(), text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size()))
        log_failed(written < 0 ? std::strerror(errno) : "short write");
}

} // namespace

void divert_records(std::function<void(const std::string &line)> sink)
{
    diverted() = std::move(sink);
}

void append_records(const std::string &lines)
{
    if (!lines.empty() && !diverted() && log_fd() >= 0)
        write_whole(lines);
}

Record::Record(const char *event) : enabled_(diverted() || log_fd() >= 0)
{
    if (!enabled_)
        return;
    static const pid_t pid = getpid();
    line_ = event;
    num("pid", pid);
}

Record &Record::num(const char *key, std::int64_t value)
{
    if (enabled_)
        text(key, std::to_string(value));
    return *this;
}

Record &Record::text(const char *key, const std::string &value)
{
    if (!enabled_)
        return *this;
    line_ += ' ';
    line_ += key;
    line_ += '=';
    line_ += log_safe(value);
    return *this;
}

Record &Record::bytes(const char *key, const unsigned char *data, int len)
{
    if (!enabled_)
        return *this;
    const std::string digits = hex::encode(data, static_cast<std::size_t>(len));
    return text(key, digits.empty() ? "-" : digits);
}

void Record::emit()
{
    if (!enabled_)
        return;
    line_ += '\n';
    if (diverted())
        diverted()(line_);
    else
        write_whole(line_);
}

} // namespace wpisim
