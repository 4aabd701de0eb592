// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "serial_port.hpp"

#include "terminal.hpp"

#include "own_file.hpp"
#include "state_files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace wpisim
{

namespace
{

// The log's size before it is set aside as serial.log.1, replacing the one
// before: the latest 64 to 128 KiB are kept.
constexpr std::size_t log_bytes = std::size_t{64} * 1024;
// Typed bytes the firmware has not read yet, at most: the rest waits in the
// terminal, whose writer then blocks, as a real port's flow control does.
constexpr std::size_t typed_bytes = 4096;

// The serial log, this user's own regular file, never through a link.
int open_log(const std::string &path)
{
    const int fd = open_unblocked(AT_FDCWD, path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW);
    if (fd >= 0 && !own_file_problem(fd).empty()) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

SerialPort::SerialPort(std::string dir, const std::string &board, std::string *why)
    : dir_(std::move(dir)), tty_(state_files::of_board(state_files::board_tty, board)),
      log_(state_files::of_board(state_files::serial_log, board))
{
    // Raw, as a USB serial port.
    master_ = open_terminal(dir_ + "/" + tty_, "", why);
    if (master_ < 0)
        return;
    log_fd_ = open_log(dir_ + "/" + log_);
    if (log_fd_ < 0)
        *why = "cannot write " + dir_ + "/" + log_ + ": not a file of yours";
    struct stat st {
    };
    if (log_fd_ >= 0 && fstat(log_fd_, &st) == 0)
        logged_ = static_cast<std::size_t>(st.st_size);
}

SerialPort::~SerialPort()
{
    if (master_ >= 0)
        close(master_);
    if (log_fd_ >= 0)
        close(log_fd_);
}

void SerialPort::log(std::uint8_t byte)
{
    if (log_fd_ < 0)
        return;
    if (logged_ >= log_bytes) {
        const std::string path = dir_ + "/" + log_;
        rename(path.c_str(), (path + ".1").c_str());
        close(log_fd_);
        log_fd_ = open_log(path);
        logged_ = 0;
    }
    if (log_fd_ >= 0 && write(log_fd_, &byte, 1) == 1)
        ++logged_;
}

void SerialPort::sent(std::uint8_t byte)
{
    log(byte);
    // A terminal that does not read loses bytes, as a UART's would.
    if (open_ && write(master_, &byte, 1) != 1 && errno != EAGAIN)
        open_ = false;
}

void SerialPort::poll_terminal()
{
    if (master_ < 0)
        return;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return;
    open_ = (p.revents & POLLHUP) == 0;
    if ((p.revents & POLLIN) == 0)
        return;
    std::uint8_t buffer[256];
    const std::size_t room = std::min(sizeof buffer, typed_bytes - input_.size());
    if (room == 0)
        return;
    const ssize_t n = read(master_, buffer, room);
    for (ssize_t i = 0; i < n; ++i)
        input_.push_back(buffer[i]);
}

} // namespace wpisim
