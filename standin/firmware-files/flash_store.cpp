// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "flash_store.hpp"

#include "clock.hpp"
#include "diagnostic.hpp"
#include "message.hpp"
#include "own_file.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

constexpr const char *lock_name = state_files::flash_lock;

// A board's flash: its link, and the prefix of its folders ("flash." for the
// bench's first board, "flash-NAME." for another), so no board's flash
// removes another's.
struct Names {
    explicit Names(const std::string &board)
        : link(state_files::of_board(state_files::flash, board)), prefix(link + ".")
    {
    }
    std::string link;
    std::string prefix;
};
// A flash is a few file writes: one still holding the lock this long is stuck.
constexpr std::int64_t lock_limit_ns = 10000000000;
// A link swapped this often while a run reads it is not a flash going on.
constexpr int read_tries = 100;

[[noreturn]] void refuse(const Names &n, const std::string &why)
{
    fail(n.link + " " + quoted(state_dir_path() + "/" + n.link), why);
}

// A folder this code made: the prefix and mkdtemp's six characters.
bool flash_folder_name(const Names &n, const std::string &name)
{
    const std::size_t size = n.prefix.size() + 6;
    if (name.size() != size || name.compare(0, n.prefix.size(), n.prefix) != 0)
        return false;
    for (std::size_t i = n.prefix.size(); i < name.size(); ++i)
        if (std::isalnum(static_cast<unsigned char>(name[i])) == 0)
            return false;
    return true;
}

// The name as the user gave it, in one line: control bytes and % as %XX.
std::string escape(const std::string &name)
{
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '%') {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescape(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(text[i + 1]) != 0 &&
            std::isxdigit(text[i + 2]) != 0) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool write_file(int dir, const char *name, const std::string &text)
{
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && whole;
}

// A file of the flash folder, this user's and regular, read whole.
std::string read_flash_file(const Names &n, int folder, const char *name)
{
    const int fd = open_unblocked(folder, name, O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        refuse(n, std::string(name) + ": " + std::strerror(errno));
    if (!own_file_problem(fd).empty()) {
        close(fd);
        refuse(n, std::string(name) + " is not a file of yours");
    }
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int saved = errno;
            close(fd);
            refuse(n, std::string(name) + ": " + std::strerror(saved));
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return text;
}

// The folder the flash link names now, "" for none; anything but a link of
// ours to a folder of ours is refused.
std::string current_folder(const Names &n)
{
    const int dir = state_dir_fd();
    struct stat st {
    };
    if (fstatat(dir, n.link.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return "";
        refuse(n, std::strerror(errno));
    }
    require_own(st.st_uid, n.link);
    if (!S_ISLNK(st.st_mode))
        refuse(n, "not the link a flash makes");
    char target[64] = {};
    const ssize_t got = readlinkat(dir, n.link.c_str(), target, sizeof target - 1);
    if (got < 0) {
        if (errno == ENOENT)
            return "";
        refuse(n, std::strerror(errno));
    }
    std::string name(target, static_cast<std::size_t>(got));
    if (!flash_folder_name(n, name))
        refuse(n, "points to " + quoted(name) + ", not to a flash of the state directory");
    return name;
}

void remove_flash_folder(int dir, const std::string &name)
{
    const int folder = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder >= 0) {
        unlinkat(folder, "image", 0);
        unlinkat(folder, "info", 0);
        close(folder);
    }
    unlinkat(dir, name.c_str(), AT_REMOVEDIR);
}

// Every flash folder but the current one and those a run still reads, and
// links a failed flash left: under the flash lock, nobody else is making any.
void remove_old_flashes(const Names &n, const std::string &current)
{
    const int dir = state_dir_fd();
    const int listing = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *entries = listing >= 0 ? fdopendir(listing) : nullptr;
    if (entries == nullptr) {
        if (listing >= 0)
            close(listing);
        return;
    }
    // One thread, and this is its only use of the directory stream. The
    // 64-bit reader: a 32-bit one fails with EOVERFLOW on a 64-bit kernel's
    // directory offsets (ARM code under qemu-user on a PC).
    // cppcheck-suppress readdirCalled
    while (const dirent64 *e = readdir64(entries)) {
        const std::string name = e->d_name;
        struct stat st {
        };
        const std::size_t folder_size = n.prefix.size() + 6;
        if (name.size() == folder_size + 5 && name.compare(folder_size, 5, ".link") == 0 &&
            flash_folder_name(n, name.substr(0, folder_size)) &&
            fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) &&
            st.st_uid == geteuid()) {
            unlinkat(dir, name.c_str(), 0);
            continue;
        }
        if (!flash_folder_name(n, name) || name == current)
            continue;
        const int folder =
            openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0)
            continue;
        if (fstat(folder, &st) == 0 && st.st_uid == geteuid() &&
            flock(folder, LOCK_EX | LOCK_NB) == 0)
            remove_flash_folder(dir, name);
        close(folder);
    }
    closedir(entries);
}

// Holds the flash lock; -1 and why when it cannot.
int lock_flashing(std::string *why)
{
    const int fd = open_own(lock_name, O_RDWR | O_CREAT);
    const std::int64_t deadline = now_ns() + lock_limit_ns;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || now_ns() >= deadline) {
            *why =
                errno == EWOULDBLOCK ? "another flash has held it for 10 s" : std::strerror(errno);
            close(fd);
            return -1;
        }
        sleep_until_ns(now_ns() + 5000000);
    }
    return fd;
}

// The info a flash wrote: board, name and when, once each and nothing else.
Flashed parse_info(const Names &n, const std::string &info)
{
    Flashed f;
    int lines = 0;
    for (std::size_t at = 0, end; (end = info.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = info.substr(at, end - at);
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        ++lines;
        if (key == "board" && f.kind == nullptr)
            f.kind = find_board_kind(value);
        else if (key == "name" && f.name.empty())
            f.name = unescape(value);
        else if (key == "flashed" && f.flashed.empty())
            f.flashed = value;
        else
            refuse(n, "info is not what a flash writes");
    }
    if (lines != 3 || f.kind == nullptr || f.name.empty())
        refuse(n, "info is not what a flash writes");
    return f;
}

} // namespace

std::optional<Flashed> flashed(const std::string &board)
{
    const Names n(board);
    const int dir = state_dir_fd();
    for (int attempt = 0; attempt < read_tries; ++attempt) {
        const std::string name = current_folder(n);
        if (name.empty())
            return std::nullopt;
        const int folder =
            openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0 && errno == ENOENT)
            continue; // swapped for a newer flash and removed
        struct stat st {
        };
        if (folder < 0 || fstat(folder, &st) != 0)
            refuse(n, std::strerror(errno));
        // The last run to let go of a flash replaced meanwhile removes it.
        auto hold =
            std::shared_ptr<const int>(new int(folder), [dir, name, link = n.link](const int *fd) {
                char target[64] = {};
                const bool current =
                    readlinkat(dir, link.c_str(), target, sizeof target - 1) > 0 && name == target;
                if (!current && flock(*fd, LOCK_EX | LOCK_NB) == 0)
                    remove_flash_folder(dir, name);
                close(*fd);
                delete fd;
            });
        require_own(st.st_uid, name);
        if ((st.st_mode & 022) != 0)
            refuse(n, quoted(name) + " is open to others' writes");
        // Shared while this run uses the image: a later flash removes it
        // only once no run holds it.
        if (flock(folder, LOCK_SH | LOCK_NB) != 0 || current_folder(n) != name)
            continue;
        Flashed f = parse_info(n, read_flash_file(n, folder, "info"));
        f.image = state_dir_path() + "/" + name + "/image";
        f.hold = std::move(hold);
        return f;
    }
    refuse(n, "changed " + std::to_string(read_tries) + " times while being read");
}

std::string store_flash(const std::string &content, const BoardKind &kind, const std::string &name,
                        const std::string &board)
{
    const Names n(board);
    std::string why;
    const int lock = lock_flashing(&why);
    if (lock < 0)
        return why;
    const int dir = state_dir_fd();
    std::string path = state_dir_path() + "/" + n.prefix + "XXXXXX";
    if (mkdtemp(path.data()) == nullptr) {
        const int saved = errno;
        close(lock);
        return std::strerror(saved);
    }
    const std::string made = path.substr(path.rfind('/') + 1);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char when[64] = {};
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", &local);
    const std::string info =
        std::string("board ") + kind.name + "\nname " + escape(name) + "\nflashed " + when + "\n";
    const int folder = openat(dir, made.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool written =
        folder >= 0 && write_file(folder, "image", content) && write_file(folder, "info", info);
    const int saved = errno;
    if (folder >= 0)
        close(folder);
    // The new flash replaces the old in one rename of a link: a run reads
    // the old or the new, and a flash that fails leaves the old.
    const std::string link = made + ".link";
    if (!written || symlinkat(made.c_str(), dir, link.c_str()) != 0 ||
        renameat(dir, link.c_str(), dir, n.link.c_str()) != 0) {
        const int reason = written ? errno : saved;
        unlinkat(dir, link.c_str(), 0);
        remove_flash_folder(dir, made);
        close(lock);
        return std::strerror(reason);
    }
    remove_old_flashes(n, made);
    close(lock);
    return "";
}

} // namespace wpisim
