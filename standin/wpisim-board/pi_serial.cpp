// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pi_serial.hpp"

#include "terminal.hpp"

#include "clock.hpp"
#include "state_files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace wpisim
{

namespace
{

// How long the board waits for bytes a run says it wrote to come through the
// terminal: they are on their way, the kernel's hand-over takes microseconds.
constexpr std::int64_t written_limit_ns = 1000000000;
// What the Pi's side holds ready for the line in wall time: the PL011's FIFO
// and the driver's hand-over, and more than the board process's pace between
// two looks at the terminal.
constexpr int fifo_frames = 64;
// Written on the virtual clock and kept for the next sync, at most: beyond
// it the Pi's writes wait in the terminal.
constexpr std::size_t held_bytes = std::size_t{1} << 20;

double baud_of(speed_t s)
{
    static const std::pair<speed_t, double> rates[] = {
        {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134.5},
        {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
        {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
        {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
        {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
        {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000}};
    for (const auto &r : rates)
        if (r.first == s)
            return r.second;
    return 0; // B0: the line hung up
}

} // namespace

PiSerial::PiSerial(std::string dir, std::string *why)
    : dir_(std::move(dir)), to_board_(UartFormat{}, UartFormat{}),
      to_pi_(UartFormat{}, UartFormat{})
{
    // As the Pi's UART after boot: 9600 8N1, raw, until a program sets it.
    master_ = open_terminal(dir_ + "/" + state_files::pi_tty, " for the Pi's UART", why);
}

PiSerial::~PiSerial()
{
    if (master_ >= 0)
        close(master_);
}

bool PiSerial::pi_open()
{
    if (master_ < 0)
        return false;
    pollfd p{master_, 0, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

// The terminal's settings are the slave's, read through the master.
UartFormat PiSerial::pi_format() const
{
    UartFormat f;
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0)
        return f;
    const double baud = baud_of(cfgetospeed(&t));
    f.bit_ns = baud > 0 ? 1e9 / baud : 1e9 / 9600;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        f.data_bits = 5;
        break;
    case CS6:
        f.data_bits = 6;
        break;
    case CS7:
        f.data_bits = 7;
        break;
    default:
        f.data_bits = 8;
    }
    f.parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
    f.stop_bits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return f;
}

void PiSerial::board_sent(std::uint8_t byte, std::int64_t at_ns, const UartFormat &board)
{
    to_pi_.set_sender(board);
    to_pi_.send(byte, static_cast<double>(at_ns));
}

std::uint64_t PiSerial::read_pi(std::int64_t at_ns, std::uint64_t limit)
{
    std::uint8_t buffer[512];
    const ssize_t n = read(master_, buffer, std::min<std::uint64_t>(sizeof buffer, limit));
    for (ssize_t i = 0; i < n; ++i)
        to_board_.send(buffer[i], static_cast<double>(at_ns));
    return n > 0 ? static_cast<std::uint64_t>(n) : 0;
}

void PiSerial::hand_over(AvrBoard &board, std::int64_t at_ns)
{
    for (const Received &r : to_board_.receive(static_cast<double>(at_ns)))
        board.serial_in_at(static_cast<std::int64_t>(r.at_ns), r.byte, r.framing_error);
}

void PiSerial::take_pi_writes(AvrBoard &board, std::int64_t at_ns, std::uint64_t written)
{
    if (master_ < 0)
        return;
    to_board_.set_sender(pi_format());
    to_board_.set_receiver(board.uart_format());
    const std::int64_t give_up = now_ns() + written_limit_ns;
    std::uint64_t taken = held_.size();
    for (const char c : held_)
        to_board_.send(static_cast<std::uint8_t>(c), static_cast<double>(at_ns));
    held_.clear();
    for (;;) {
        const std::uint64_t n = read_pi(at_ns, SIZE_MAX);
        taken += n;
        if (n > 0)
            continue;
        if (taken >= written || now_ns() >= give_up || !pi_open())
            break;
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, 10);
    }
    hand_over(board, at_ns);
}

void PiSerial::hold_pi_writes()
{
    char buffer[4096];
    ssize_t n = 0;
    while (master_ >= 0 && held_.size() < held_bytes &&
           (n = read(master_, buffer, sizeof buffer)) > 0)
        held_.append(buffer, static_cast<std::size_t>(n));
}

void PiSerial::pace_pi_writes(AvrBoard &board, std::int64_t at_ns)
{
    if (master_ < 0)
        return;
    const UartFormat pi = pi_format();
    to_board_.set_sender(pi);
    to_board_.set_receiver(board.uart_format());
    const double until = static_cast<double>(at_ns) + fifo_frames * pi.frame_ns();
    const double free_from = std::max(to_board_.busy_until(), static_cast<double>(at_ns));
    if (free_from < until)
        read_pi(at_ns, static_cast<std::uint64_t>((until - free_from) / pi.frame_ns()) + 1);
    hand_over(board, at_ns);
}

int PiSerial::advance(AvrBoard &board, std::int64_t now_ns)
{
    const auto now = static_cast<double>(now_ns);
    to_board_.set_receiver(board.uart_format());
    for (const Received &r : to_board_.receive(now))
        board.serial_in_at(static_cast<std::int64_t>(r.at_ns), r.byte, r.framing_error);
    const UartFormat pi = pi_format();
    to_pi_.set_receiver(pi);
    for (const Received &r : to_pi_.receive(now))
        due_.push_back(r);
    termios t{};
    const bool checked = master_ >= 0 && tcgetattr(master_, &t) == 0 && (t.c_iflag & INPCK) != 0;
    const bool open = pi_open();
    std::string bytes;
    while (!due_.empty() && due_.front().at_ns <= now) {
        const Received r = due_.front();
        due_.pop_front();
        // With INPCK a byte in error is dropped (IGNPAR) or read as 0, as
        // Linux's terminal does; without it, raw mode's default, it is read.
        if (checked && (r.framing_error || r.parity_error)) {
            if ((t.c_iflag & IGNPAR) == 0)
                bytes += '\0';
        } else {
            bytes += static_cast<char>(r.byte);
        }
    }
    // A port nobody has open loses what comes, as the Pi's does.
    if (!open || bytes.empty())
        return 0;
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    return n > 0 ? static_cast<int>(n) : 0;
}

std::int64_t PiSerial::next_arrival() const
{
    return due_.empty() ? -1 : static_cast<std::int64_t>(due_.front().at_ns);
}

double PiSerial::shortest_frame_ns(const AvrBoard &board) const
{
    return std::min(board.uart_format().frame_ns(), pi_format().frame_ns());
}

} // namespace wpisim
