// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "call_faults.hpp"

#include "diagnostic.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace wpisim
{

namespace
{

struct Name {
    const char *name;
    int value;
};

const Name names[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EINTR", EINTR},         {"EIO", EIO},
    {"ENXIO", ENXIO},   {"EBADF", EBADF},   {"EAGAIN", EAGAIN},       {"ENOMEM", ENOMEM},
    {"EACCES", EACCES}, {"EBUSY", EBUSY},   {"ENODEV", ENODEV},       {"EINVAL", EINVAL},
    {"ENOSPC", ENOSPC}, {"EROFS", EROFS},   {"ETIMEDOUT", ETIMEDOUT}, {"EPROTO", EPROTO},
};

// Parses an errno name or number; 0 when it is neither.
int parse_errno(const char *text)
{
    for (const Name &n : names)
        if (std::strcmp(text, n.name) == 0)
            return n.value;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0 || value > 4095)
        return 0;
    return static_cast<int>(value);
}

// A fault was asked for: fail even if the errno is misspelt.
int fault_errno(const char *text)
{
    const int value = parse_errno(text);
    return value != 0 ? value : EIO;
}

// Unset, empty and 0 all mean: no fault.
int errno_from_env(const char *variable)
{
    const char *text = std::getenv(variable);
    if (text == nullptr || *text == '\0' || std::strcmp(text, "0") == 0)
        return 0;
    return fault_errno(text);
}

struct TransferFault {
    long number = 0; // 0: none asked for
    int error = 0;
};

// N or N:ERRNO, N counting transfers from 1. Anything else is refused: a
// fault that silently never happens would let a fault test pass untested.
TransferFault read_transfer_fault()
{
    const char *text = std::getenv("WPISIM_FAIL_TRANSFER");
    if (text == nullptr || *text == '\0')
        return {};
    const std::string what = std::string("WPISIM_FAIL_TRANSFER=") + quoted(text);
    long number = 0;
    const char *p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (number > (INT_MAX - (*p - '0')) / 10)
            fail(what, "the transfer number is too large");
        number = number * 10 + (*p - '0');
    }
    if (p == text || (*p != '\0' && *p != ':'))
        fail(what, "not N or N:ERRNO, with N the number of a transfer counted from 1");
    if (number == 0)
        fail(what, "transfers are counted from 1");
    if (*p == ':' && p[1] == '\0')
        fail(what, "no errno after the colon");
    return {number, *p == ':' ? fault_errno(p + 1) : EIO};
}

long read_interrupt_at()
{
    const char *text = std::getenv("WPISIM_INTERRUPT_AT");
    if (text == nullptr || *text == '\0')
        return 0;
    long number = 0;
    const char *p = text;
    for (; *p >= '0' && *p <= '9' && number <= INT_MAX; ++p)
        number = number * 10 + (*p - '0');
    if (p == text || *p != '\0' || number < 1 || number > INT_MAX)
        fail(std::string("WPISIM_INTERRUPT_AT=") + quoted(text),
             "not N, the number of a transfer counted from 1");
    return number;
}

} // namespace

bool interrupt_at(long transfer_number)
{
    static const long at = read_interrupt_at();
    return at != 0 && at == transfer_number;
}

int spi_setup_fault()
{
    return errno_from_env("WPISIM_FAIL_SPI_SETUP");
}

int gpio_setup_fault()
{
    return errno_from_env("WPISIM_FAIL_GPIO_SETUP");
}

int transfer_fault(long transfer_number)
{
    static const TransferFault fault = read_transfer_fault();
    return fault.number != 0 && fault.number == transfer_number ? fault.error : 0;
}

} // namespace wpisim
