// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// Programs the tests run, as CMake's suite_tool() found them: TOOL is the
// program's path (its bare name when it was not found), TOOL_PACKAGE the
// Debian package that brings it.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// Fails the test, not skips it, when the program is missing: a skip would
// hide a package that scripts/packages.txt lacks.
#define REQUIRE_TOOL(tool)                                                                         \
    if (access((tool), X_OK) != 0)                                                                 \
    GTEST_FAIL() << (tool) << " is not installed (Debian package " << tool##_PACKAGE << ")"

// What a tool prints with these arguments, its errors too; false when it is
// not installed.
inline bool tool_output(const char *tool, const std::string &arguments, std::string &output)
{
    const std::string command = std::string(tool) + " " + arguments + " 2>&1";
    // NOLINTNEXTLINE(cert-env33-c): the tool is the independent check; the arguments are ours.
    std::FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    std::array<char, 256> text{};
    while (std::fgets(text.data(), text.size(), pipe) != nullptr)
        output += text.data();
    const int status = pclose(pipe);
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}
