// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "bench_clock.hpp"

#include "clock.hpp"
#include "diagnostic.hpp"
#include "settings.hpp"
#include "state_dir.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace wpisim
{

namespace
{

constexpr const char *clock_file = "clock";

[[noreturn]] void clock_failed(const std::string &why)
{
    fail("WPISIM_TIME=virtual: clock " + quoted(state_dir_path() + "/" + clock_file), why);
}

class VirtualClock
{
  public:
    VirtualClock()
    {
        fd_ = open_own(clock_file, O_RDWR | O_CREAT);
        if (fd_ < 0)
            clock_failed(std::strerror(errno));
        // Held for the run's life: two runs stepping one clock would each see
        // the other's time jump.
        struct flock lock {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(fd_, F_SETLK, &lock) != 0) {
            struct flock held = lock;
            const bool known = fcntl(fd_, F_GETLK, &held) == 0 && held.l_type != F_UNLCK;
            fail("WPISIM_TIME=virtual",
                 "another run" + (known ? " (pid " + std::to_string(held.l_pid) + ")" : "") +
                     " is on this state directory's virtual clock; runs at once need "
                     "WPISIM_TIME=wall");
        }
        char text[32] = {};
        const ssize_t n = pread(fd_, text, sizeof text - 1, 0);
        if (n < 0)
            clock_failed(std::strerror(errno));
        char *end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        // A new clock starts at 0; anything but a plain count is not ours.
        if (n > 0 && (end == text || *end != '\n' || value < 0))
            clock_failed("not a clock this stand-in wrote");
        now_ = n > 0 ? value : 0;
    }

    std::int64_t now() const { return now_; }

    void advance_to(std::int64_t t)
    {
        if (t <= now_)
            return;
        now_ = t;
        // Written at once, so a run ended by a signal leaves its time behind.
        const std::string text = std::to_string(now_) + "\n";
        if (pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
            ftruncate(fd_, static_cast<off_t>(text.size())) != 0)
            clock_failed(std::strerror(errno));
    }

  private:
    int fd_ = -1;
    std::int64_t now_ = 0;
};

VirtualClock &virtual_clock()
{
    static VirtualClock clock;
    return clock;
}

} // namespace

bool virtual_time()
{
    static const bool is_virtual = setting_text("WPISIM_TIME").value_or("wall") == "virtual";
    return is_virtual;
}

std::int64_t bench_now_ns()
{
    return virtual_time() ? virtual_clock().now() : now_ns();
}

void bench_wait_until(std::int64_t t)
{
    if (virtual_time())
        virtual_clock().advance_to(t);
    else
        sleep_until_ns(t);
}

} // namespace wpisim
