// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The board's serial port, as a USB Arduino's /dev/ttyACM0: a pseudo-terminal
// of the board process, linked as board.tty in the state directory, in raw
// mode, that picocom, screen or the Arduino IDE's monitor opens. Everything
// the firmware sends is also appended to serial.log there (at 64 KiB it
// becomes serial.log.1, replacing the one before), so what setup() prints is
// never lost; what it sends while nobody has the terminal open goes to the
// log only. What is typed is read only as fast as the firmware takes it.

#include <cstdint>
#include <deque>
#include <string>

namespace wpisim
{

class SerialPort
{
  public:
    // The terminal and the log in dir, of the board named (empty: the
    // bench's first, with the plain names); why, when the terminal cannot be made.
    SerialPort(std::string dir, const std::string &board, std::string *why);
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // A byte the firmware sent.
    void sent(std::uint8_t byte);
    // Looks whether someone has the terminal open and takes what they typed.
    void poll_terminal();
    // The next byte typed and not yet taken by the firmware, -1 for none.
    int typed() const { return input_.empty() ? -1 : input_.front(); }
    void taken() { input_.pop_front(); }

  private:
    void log(std::uint8_t byte);

    std::string dir_;
    std::string tty_;
    std::string log_;
    int master_ = -1;
    int log_fd_ = -1;
    std::size_t logged_ = 0;
    bool open_ = false;
    std::deque<std::uint8_t> input_;
};

} // namespace wpisim
