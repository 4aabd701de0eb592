// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "state_dir.hpp"

#include "diagnostic.hpp"
#include "own_file.hpp"
#include "settings.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

[[noreturn]] void refuse_dir(const std::string &path, const std::string &why)
{
    fail("state directory " + quoted(path), why);
}

struct Location {
    std::string path;
    // Under a directory anyone may write to, such as /tmp.
    bool shared;
};

// From the root: the board process works from there, not from the run's
// working directory.
std::string absolute(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    std::string cwd(4096, '\0');
    if (getcwd(cwd.data(), cwd.size()) == nullptr)
        refuse_dir(path,
                   std::string("no working directory to find it from: ") + std::strerror(errno));
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd + (cwd == "/" ? "" : "/") + path;
}

Location state_location()
{
    if (const auto dir = setting_text("WPISIM_STATE_DIR"))
        return {absolute(*dir), false};
    if (const char *dir = std::getenv("XDG_STATE_HOME"); dir != nullptr && *dir != '\0')
        return {absolute(std::string(dir) + "/wpisim"), false};
    if (const char *home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return {std::string(home) + "/.local/state/wpisim", false};
    const char *tmp = std::getenv("TMPDIR");
    const std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    return {base + "/wpisim-" + std::to_string(getuid()), true};
}

// mkdir -p.
void make_dirs(const std::string &path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        if (mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            refuse_dir(path, std::strerror(errno));
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        refuse_dir(path, std::strerror(errno));
}

// The directory, opened once: every file after this is made relative to it, so
// swapping a path component for a link later changes nothing.
int open_state_dir(const Location &where)
{
    if (where.shared) {
        // Another user may have made it first, to catch our writes: only a
        // private directory of our own will do.
        if (mkdir(where.path.c_str(), 0700) != 0 && errno != EEXIST)
            refuse_dir(where.path, std::strerror(errno));
    } else {
        make_dirs(where.path);
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (where.shared ? O_NOFOLLOW : 0);
    const int fd = open(where.path.c_str(), flags);
    struct stat st {
    };
    if (fd < 0 && where.shared && lstat(where.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        refuse_dir(where.path, "a symbolic link, not a directory of its own");
    if (fd < 0)
        refuse_dir(where.path, std::strerror(errno));
    if (fstat(fd, &st) != 0)
        refuse_dir(where.path, std::strerror(errno));
    if (st.st_uid != geteuid())
        refuse_dir(where.path, "owned by uid " + std::to_string(st.st_uid) + ", not by you");
    if (where.shared && (st.st_mode & 077) != 0)
        refuse_dir(where.path, "open to other users (it must be private, mode 0700)");
    return fd;
}

const Location &where()
{
    static const Location location = state_location();
    return location;
}

} // namespace

std::string state_dir_path()
{
    return where().path;
}

int state_dir_fd()
{
    static const int fd = open_state_dir(where());
    return fd;
}

int open_own(const std::string &name, int flags, unsigned mode)
{
    const std::string what = name + " " + quoted(state_dir_path() + "/" + name);
    const int fd = open_unblocked(state_dir_fd(), name, flags | O_NOFOLLOW, mode);
    if (fd < 0) {
        if (errno == ENOENT)
            return -1;
        struct stat st {
        };
        if (fstatat(state_dir_fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(st.st_mode))
            fail(what, "not a regular file");
        fail(what, open_error(errno));
    }
    if (const std::string why = own_file_problem(fd); !why.empty())
        fail(what, why);
    return fd;
}

void require_own(unsigned file_uid, const std::string &name)
{
    if (file_uid != geteuid())
        fail(name + " " + quoted(state_dir_path() + "/" + name),
             "owned by uid " + std::to_string(file_uid) + ", not by you");
}

} // namespace wpisim
