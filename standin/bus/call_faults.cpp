// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "call_faults.hpp"

#include "settings.hpp"

#include <cerrno>
#include <string>

namespace wpisim
{

namespace
{

struct TransferFault {
    long number = 0; // 0: none asked for
    int error = 0;
};

// Checked against the settings table as it is read: N or N:ERRNO.
TransferFault read_transfer_fault()
{
    const auto text = setting_text("WPISIM_FAIL_TRANSFER");
    if (!text)
        return {};
    const std::size_t colon = text->find(':');
    const long number = std::stol(text->substr(0, colon));
    if (colon == std::string::npos)
        return {number, EIO};
    return {number, *errno_code(std::string_view(*text).substr(colon + 1))};
}

} // namespace

bool interrupt_at(long transfer_number)
{
    static const long at = static_cast<long>(setting_number("WPISIM_INTERRUPT_AT").value_or(0));
    return at != 0 && at == transfer_number;
}

int spi_setup_fault()
{
    return setting_errno("WPISIM_FAIL_SPI_SETUP");
}

int gpio_setup_fault()
{
    return setting_errno("WPISIM_FAIL_GPIO_SETUP");
}

int transfer_fault(long transfer_number)
{
    static const TransferFault fault = read_transfer_fault();
    return fault.number != 0 && fault.number == transfer_number ? fault.error : 0;
}

} // namespace wpisim
