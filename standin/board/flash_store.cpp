// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "flash_store.hpp"

#include "state_dir.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

bool write_file(int dir, const std::string &name, const std::string &text)
{
    const int fd =
        openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && whole;
}

// The folder a flash link names, removed with what it holds.
void remove_flash_folder(const std::string &name)
{
    const int dir = state_dir_fd();
    const int folder = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder >= 0) {
        unlinkat(folder, "image", 0);
        unlinkat(folder, "info", 0);
        close(folder);
    }
    unlinkat(dir, name.c_str(), AT_REMOVEDIR);
}

} // namespace

std::optional<Flashed> flashed()
{
    // Plain reads: the library loads no iostreams for a file of three lines.
    const int fd = openat(state_dir_fd(), "flash/info", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    Flashed f;
    std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "board")
            f.kind = find_board_kind(value);
        else if (key == "name")
            f.name = value;
        else if (key == "flashed")
            f.flashed = value;
    }
    if (f.kind == nullptr)
        return std::nullopt;
    f.image = state_dir_path() + "/flash/image";
    return f;
}

std::string store_flash(const std::string &content, const BoardKind &kind, const std::string &name)
{
    const int dir = state_dir_fd();
    std::string path = state_dir_path() + "/flash.XXXXXX";
    if (mkdtemp(path.data()) == nullptr)
        return std::strerror(errno);
    const std::string made = path.substr(path.rfind('/') + 1);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char when[64] = {};
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", &local);
    const std::string info =
        std::string("board ") + kind.name + "\nname " + name + "\nflashed " + when + "\n";
    const int folder = openat(dir, made.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool written =
        folder >= 0 && write_file(folder, "image", content) && write_file(folder, "info", info);
    const int saved = errno;
    if (folder >= 0)
        close(folder);
    char old[256] = {};
    const ssize_t old_size = readlinkat(dir, "flash", old, sizeof old - 1);
    // The new flash replaces the old in one rename of a link.
    const std::string link = made + ".link";
    if (!written || symlinkat(made.c_str(), dir, link.c_str()) != 0 ||
        renameat(dir, link.c_str(), dir, "flash") != 0) {
        const int reason = written ? errno : saved;
        unlinkat(dir, link.c_str(), 0);
        remove_flash_folder(made);
        return std::strerror(reason);
    }
    if (old_size > 0 && std::strncmp(old, "flash.", 6) == 0 && std::strchr(old, '/') == nullptr)
        remove_flash_folder(old);
    return "";
}

} // namespace wpisim
