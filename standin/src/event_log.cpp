#include "event_log.hpp"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace wpisim
{

Record::Record(const char *event) : line_(event)
{
    num("pid", getpid());
}

Record &Record::num(const char *key, std::int64_t value)
{
    return text(key, std::to_string(value));
}

Record &Record::text(const char *key, const std::string &value)
{
    line_ += ' ';
    line_ += key;
    line_ += '=';
    line_ += value;
    return *this;
}

Record &Record::bytes(const char *key, const unsigned char *data, int len)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < len; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 0xf];
    }
    return text(key, hex.empty() ? "-" : hex);
}

void Record::emit()
{
    const char *path = std::getenv("WPISIM_LOG");
    if (path == nullptr || *path == '\0')
        return;
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    line_ += '\n';
    // A short write to the log is not worth failing the caller's call for.
    (void)!write(fd, line_.data(), line_.size());
    close(fd);
}

} // namespace wpisim
