// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "own_file.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

int open_unblocked(int dir, const std::string &path, int flags, unsigned mode)
{
    const int fd = openat(dir, path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    if (fd >= 0)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string open_error(int error)
{
    return error == ENXIO ? "a FIFO that nobody reads" : std::strerror(error);
}

std::string own_file_problem(int fd)
{
    struct stat st {
    };
    if (fstat(fd, &st) != 0)
        return std::strerror(errno);
    if (st.st_uid != geteuid())
        return "owned by uid " + std::to_string(st.st_uid) + ", not by you";
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    return "";
}

} // namespace wpisim
