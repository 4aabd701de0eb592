// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "bench_clock.hpp"

#include "clock.hpp"
#include "diagnostic.hpp"
#include "run_hold.hpp"
#include "settings.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace wpisim
{

namespace
{

constexpr const char *clock_file = state_files::clock;

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
        if (ftruncate(fd_, width) != 0)
            clock_failed(std::strerror(errno));
        void *map = mmap(nullptr, width, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (map == MAP_FAILED)
            clock_failed(std::strerror(errno));
        map_ = static_cast<char *>(map);
        const std::int64_t start = now_.load();
        now_ = -1;
        advance_to(start);
    }

    std::int64_t now() const { return now_.load(std::memory_order_acquire); }

    void advance_to(std::int64_t t)
    {
        // Threads of one program (an interrupt's, a soft PWM's) share it.
        std::lock_guard<std::mutex> hold(lock_);
        if (t <= now_.load(std::memory_order_relaxed))
            return;
        now_.store(t, std::memory_order_release);
        // In place, at once: a run ended by a signal leaves its time behind,
        // and a step costs no system call.
        char text[width];
        auto rest = static_cast<std::uint64_t>(t);
        text[width - 1] = '\n';
        for (int i = width - 2; i >= 0; --i, rest /= 10)
            text[i] = static_cast<char>('0' + rest % 10);
        std::memcpy(map_, text, width);
    }

  private:
    // Digits and a newline, always this wide, so the file can be written in place.
    static constexpr int width = 20;
    int fd_ = -1;
    char *map_ = nullptr;
    std::mutex lock_;
    std::atomic<std::int64_t> now_{0};
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

std::int64_t bench_clock_reading()
{
    // The run holding the clock decides: a virtual-time run waiting for this
    // drive counts on its own clock, whatever the caller's setting.
    const int fd = open_own(clock_file, O_RDONLY);
    if (fd < 0)
        return virtual_time() ? 0 : now_ns();
    struct flock held {
    };
    held.l_type = F_RDLCK;
    held.l_whence = SEEK_SET;
    const bool run_holds = fcntl(fd, F_GETLK, &held) == 0 && held.l_type != F_UNLCK;
    std::int64_t reading = 0;
    if (run_holds || virtual_time()) {
        // Read until two readings agree: the run may be writing it.
        std::string last;
        for (int tries = 0; tries < 100; ++tries) {
            char text[32] = {};
            const ssize_t n = pread(fd, text, sizeof text - 1, 0);
            const std::string now(text, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (now == last)
                break;
            last = now;
        }
        reading = std::strtoll(last.c_str(), nullptr, 10);
    }
    close(fd);
    return run_holds || virtual_time() ? reading : now_ns();
}

namespace
{

ClockEvents events{};

// Steps to t through every event due on the way; one at a time, so an event
// that schedules another sooner still gets it in order.
void step_to(std::int64_t t, bool waiting)
{
    VirtualClock &clock = virtual_clock();
    for (;;) {
        // A hold of wpisim run's on the way is a stop too, after what is due
        // by then.
        const std::int64_t hold = run_next_hold();
        const bool holds = hold >= 0 && hold <= t;
        const std::int64_t limit = holds ? hold : t;
        const std::int64_t due = events.next_due != nullptr ? events.next_due(limit) : -1;
        if (due >= 0) {
            clock.advance_to(due);
            events.happen(due, waiting);
            continue;
        }
        if (!holds)
            break;
        clock.advance_to(hold);
        run_reach_hold(hold);
    }
    clock.advance_to(t);
}

} // namespace

void bench_wait_until(std::int64_t t)
{
    if (virtual_time())
        step_to(t, true);
    else
        sleep_until_ns(t);
}

void bench_spend(std::int64_t ns)
{
    if (virtual_time())
        step_to(virtual_clock().now() + ns, false);
}

void on_clock_events(ClockEvents e)
{
    events = e;
}

} // namespace wpisim
