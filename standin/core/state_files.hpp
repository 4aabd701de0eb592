// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The names of the state directory's files, each spelled here and nowhere else.

#include <string>

namespace wpisim::state_files
{

constexpr const char *pins = "pins";               // the GPIO bank, shared by every process
constexpr const char *clock = "clock";             // the virtual clock
constexpr const char *board_socket = "board.sock"; // the board process's link
constexpr const char *board_lock = "board.lock";   // held by the run that starts it
constexpr const char *board_tty = "board.tty";     // a link to the board's serial terminal
constexpr const char *pi_tty = "pi.tty";           // a link to the Pi's UART, wired to the board
constexpr const char *serial_log = "serial.log";   // what the board sent on serial
constexpr const char *flash = "flash";             // a link to the latest flash's folder
constexpr const char *flash_lock = "flash.lock";   // held while a flash is written or chosen

// A board's own file: the bench's first board has the plain names above, each
// other board the same with its name in it (board-NAME.tty, serial-NAME.log,
// flash-NAME).
inline std::string of_board(const char *plain, const std::string &board)
{
    if (board.empty())
        return plain;
    const std::string name = plain;
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos)
        return name + "-" + board;
    return name.substr(0, dot) + "-" + board + name.substr(dot);
}

} // namespace wpisim::state_files
