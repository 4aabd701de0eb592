// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace wpisim
{

// One line of the call log: "event key=value ...". The log file is named by
// WPISIM_LOG; without it nothing is recorded.
class Record
{
  public:
    explicit Record(const char *event);
    Record &num(const char *key, std::int64_t value);
    Record &text(const char *key, const std::string &value);
    Record &bytes(const char *key, const unsigned char *data, int len);
    // Appends the line with one write, so lines from concurrent processes never mix.
    void emit();

  private:
    bool enabled_;
    std::string line_;
};

// Sends every record to sink instead of WPISIM_LOG: the board process hands
// its lines to the runs they concern.
void divert_records(std::function<void(const std::string &line)> sink);

// Appends whole lines another process recorded to this run's log.
void append_records(const std::string &lines);

} // namespace wpisim
