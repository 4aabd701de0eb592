#include "faults.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

int errno_from_env(const char *variable)
{
    const char *text = std::getenv(variable);
    return text == nullptr || *text == '\0' ? 0 : fault_errno(text);
}

} // namespace

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
    const char *text = std::getenv("WPISIM_FAIL_TRANSFER");
    if (text == nullptr)
        return 0;
    char *end = nullptr;
    const long wanted = std::strtol(text, &end, 10);
    if (end == text || wanted != transfer_number)
        return 0;
    if (*end == ':')
        return fault_errno(end + 1);
    return *end == '\0' ? EIO : 0;
}

} // namespace wpisim
