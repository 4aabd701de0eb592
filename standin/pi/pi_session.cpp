// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pi_session.hpp"
#include "event_log.hpp"
#include <cstdarg>
#include <cstdio>

#include <atomic>
#include <cstdlib>

namespace wpisim::pi
{

namespace
{

std::atomic<bool> detected{false};
std::atomic<bool> tables{false};
std::atomic<bool> codes{false};

} // namespace

const Model &detect_board()
{
    const Model &m = model();
    detected = true;
    return m;
}

bool board_detected()
{
    return detected;
}

void install_pin_tables()
{
    detect_board();
    tables = true;
}

bool pin_tables_installed()
{
    return tables;
}

void read_return_codes()
{
    // wiringPi's own variable: set means set, as 3.14 reads it.
    if (std::getenv("WIRINGPI_CODES") != nullptr)
        codes = true;
}

bool return_codes()
{
    return codes;
}

int failure(int fatal, const char *message, std::va_list args)
{
    if (fatal == 0 && return_codes()) {
        Record("failure").num("fatal", 0).num("result", -1).emit();
        return -1;
    }
    char buffer[1024];
    // 3.14 leaves the last byte unused. The caller started args; the analyzer
    // cannot see across the call.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(buffer, sizeof buffer - 1, message, args);
    Record("failure").num("fatal", fatal == 0 ? 0 : 1).text("message", buffer).emit();
    std::fprintf(stderr, "%s", buffer);
    std::exit(EXIT_FAILURE);
}

// NOLINTNEXTLINE(cert-dcl50-cpp): formats as the library's messages do
int library_failure(int fatal, const char *message, ...)
{
    va_list args;
    va_start(args, message);
    const int result = failure(fatal, message, args);
    va_end(args);
    return result;
}

} // namespace wpisim::pi
