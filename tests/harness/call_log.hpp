// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace harness
{

// One line of the stand-in's call log: "event key=value ...".
struct Call {
    std::string event;
    std::map<std::string, std::string> fields;

    const std::string &at(const std::string &key) const;
    std::int64_t num(const std::string &key) const;
    // A hex field ("out", "in") as bytes.
    std::string bytes(const std::string &key) const;
};

std::vector<Call> read_call_log(const std::string &path);

// The calls of one event kind, in order.
std::vector<Call> only(const std::vector<Call> &calls, const std::string &event);

// The event names in order, e.g. {"spi-setup", "spi-transfer", "delay", ...}.
std::vector<std::string> events(const std::vector<Call> &calls);

} // namespace harness
