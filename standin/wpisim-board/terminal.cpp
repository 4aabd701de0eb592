// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "terminal.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace wpisim
{

int open_terminal(const std::string &link_path, const std::string &what, std::string *why)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const char *name =
        master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    const int slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0) {
        *why = "no pseudo-terminal" + what + ": " + std::strerror(errno);
        if (master >= 0)
            close(master);
        return -1;
    }
    // Raw: bytes pass as sent, no echo, no line editing.
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(slave, TCSANOW, &t);
    close(slave);
    const std::string fresh = link_path + ".new";
    unlink(fresh.c_str());
    if (symlink(name, fresh.c_str()) != 0 || rename(fresh.c_str(), link_path.c_str()) != 0)
        *why = "cannot link " + link_path + ": " + std::strerror(errno);
    return master;
}

} // namespace wpisim
