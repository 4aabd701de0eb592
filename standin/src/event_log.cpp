#include "event_log.hpp"

#include "hex.hpp"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

// Opened once per process: a record costs one write, and nothing when no log is asked for.
int log_fd()
{
    static const int fd = [] {
        const char *path = std::getenv("WPISIM_LOG");
        if (path == nullptr || *path == '\0')
            return -1;
        return open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }();
    return fd;
}

} // namespace

Record::Record(const char *event) : enabled_(log_fd() >= 0)
{
    if (!enabled_)
        return;
    static const pid_t pid = getpid();
    line_ = event;
    num("pid", pid);
}

Record &Record::num(const char *key, std::int64_t value)
{
    if (enabled_)
        text(key, std::to_string(value));
    return *this;
}

Record &Record::text(const char *key, const std::string &value)
{
    if (!enabled_)
        return *this;
    line_ += ' ';
    line_ += key;
    line_ += '=';
    line_ += value;
    return *this;
}

Record &Record::bytes(const char *key, const unsigned char *data, int len)
{
    if (!enabled_)
        return *this;
    const std::string digits = hex::encode(data, static_cast<std::size_t>(len));
    return text(key, digits.empty() ? "-" : digits);
}

void Record::emit()
{
    if (!enabled_)
        return;
    line_ += '\n';
    // O_APPEND and one write: lines from concurrent processes never mix. A
    // failed write to the log is not worth failing the caller's call for.
    if (write(log_fd(), line_.data(), line_.size()) < 0)
        return;
}

} // namespace wpisim
