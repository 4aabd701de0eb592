// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "install_layout.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef BOARD_PROGRAM
#define BOARD_PROGRAM ""
#endif
#ifndef BOARD_FIRMWARE
#define BOARD_FIRMWARE ""
#endif
// A cross build's emulator, as C strings and commas.
#ifndef BOARD_LAUNCHER
#define BOARD_LAUNCHER
#endif

namespace wpisim
{

namespace
{

// The file the code at this address was loaded from, as the kernel (or an
// emulator standing in for it) maps it.
std::string module_at(std::uintptr_t address)
{
    // Plain stdio: a run pays for no stream objects to read one file once.
    std::FILE *maps = std::fopen("/proc/self/maps", "re");
    if (maps == nullptr)
        return "";
    std::string found;
    char line[4096 + 256];
    while (found.empty() && std::fgets(line, sizeof line, maps) != nullptr) {
        // "start-end perms offset device inode path"
        char *rest = nullptr;
        const std::uintptr_t start = std::strtoull(line, &rest, 16);
        if (*rest != '-')
            continue;
        const std::uintptr_t end = std::strtoull(rest + 1, &rest, 16);
        if (address < start || address >= end)
            continue;
        const char *path = std::strchr(rest, '/');
        if (path == nullptr)
            continue;
        found = path;
        while (!found.empty() && (found.back() == '\n' || found.back() == ' '))
            found.pop_back();
    }
    std::fclose(maps);
    return found;
}

std::string real_path(const std::string &path)
{
    char *real = realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return "";
    std::string out(real);
    std::free(real);
    return out;
}

bool strip_tail(std::string &dir, const std::string &tail)
{
    const std::string end = "/" + tail;
    if (dir.size() <= end.size() || dir.compare(dir.size() - end.size(), end.size(), end) != 0)
        return false;
    dir.erase(dir.size() - end.size());
    return true;
}

BoardFiles find_board_files()
{
    BoardFiles built{BOARD_PROGRAM, BOARD_FIRMWARE, {BOARD_LAUNCHER}, true};
    const std::string module =
        real_path(module_at(reinterpret_cast<std::uintptr_t>(&find_board_files)));
    if (module.empty())
        return built;
    // Installed: the library in the private folder, wpisim in bin, both
    // below one prefix; the build tree has a bin of its own. A module
    // anywhere else keeps this build's files.
    const std::string tree = real_path(WPISIM_BUILD_DIR);
    const bool in_tree = !tree.empty() && module.rfind(tree + "/", 0) == 0;
    std::string prefix = module.substr(0, module.rfind('/'));
    if (!strip_tail(prefix, INSTALLED_PRIVATE_DIR) &&
        (in_tree || !strip_tail(prefix, INSTALLED_BINDIR)))
        return built;
    BoardFiles installed;
    if (!built.program.empty())
        installed.program = prefix + "/" INSTALLED_PRIVATE_DIR "/wpisim-board";
    installed.firmware = prefix + "/" INSTALLED_FIRMWARE;
    installed.launcher = built.launcher;
    return installed;
}

} // namespace

const BoardFiles &board_files()
{
    static const BoardFiles files = find_board_files();
    return files;
}

} // namespace wpisim
