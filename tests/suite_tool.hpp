// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// Programs the tests run, as CMake's suite_tool() found them: TOOL is the
// program's path (its bare name when it was not found), TOOL_PACKAGE the
// Debian package that brings it.

#include <gtest/gtest.h>
#include <unistd.h>

// Fails the test, not skips it, when the program is missing: a skip would
// hide a package that scripts/packages.txt lacks.
#define REQUIRE_TOOL(tool)                                                                         \
    if (access((tool), X_OK) != 0)                                                                 \
    GTEST_FAIL() << (tool) << " is not installed (Debian package " << tool##_PACKAGE << ")"
