// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pin_bank.hpp"

#include "bench_clock.hpp"
#include "clock.hpp"
#include "diagnostic.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace wpisim::gpio
{

namespace
{

constexpr char magic[8] = {'w', 'p', 'i', 's', 'i', 'm', 'G', '\n'};
constexpr std::uint32_t version = 2;

static_assert(std::atomic<std::uint32_t>::is_always_lock_free &&
                  std::atomic<std::int64_t>::is_always_lock_free,
              "the bank is shared between processes: its atomics must need no lock");

[[noreturn]] void bank_failed(const char *call, const std::string &why)
{
    fail(std::string(call) + ": pin bank " + quoted(state_dir_path() + "/" + state_files::pins),
         why);
}

long futex(std::atomic<std::uint32_t> &word, int op, std::uint32_t value, const timespec *limit)
{
    // Not FUTEX_PRIVATE: the word is shared with other processes.
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(&word), op, value, limit, nullptr,
                   0);
}

// How long a change of the bank may wait for another process's: changes take
// microseconds, so this is a holder stopped or stuck.
constexpr std::int64_t lock_limit_ns = 5000000000;

// The bank's lock holds the holder's pid: one that died holding it (killed
// mid-change) is taken over, and a live one that keeps it past the limit is
// an error, never a hang.
class Locked
{
  public:
    explicit Locked(Bank &b) : word_(b.lock)
    {
        const auto self = static_cast<std::uint32_t>(getpid());
        std::uint32_t holder = 0;
        const std::int64_t limit = now_ns() + lock_limit_ns;
        while (!word_.compare_exchange_weak(holder, self, std::memory_order_acquire)) {
            if (holder == 0)
                continue;
            if (kill(static_cast<pid_t>(holder), 0) != 0 && errno == ESRCH) {
                // Its change is half made at worst: each field is whole.
                if (word_.compare_exchange_strong(holder, self, std::memory_order_acquire))
                    return;
                continue;
            }
            if (now_ns() > limit)
                fail("pin bank " + quoted(state_dir_path() + "/" + state_files::pins),
                     "process " + std::to_string(holder) + " has held it for " +
                         std::to_string(lock_limit_ns / 1000000000) + " s");
            const timespec moment{0, 1000000};
            futex(word_, FUTEX_WAIT, holder, &moment);
            holder = 0;
        }
    }
    // No wake: a waiter looks again within a millisecond, and a change that
    // makes a system call on every write would cost a pin toggle tenfold.
    ~Locked() { word_.store(0, std::memory_order_release); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

  private:
    std::atomic<std::uint32_t> &word_;
};

// Records the edge to now_level at at_ns; under the bank's lock.
void record_edge(Pin &p, std::int64_t at_ns, int now_level)
{
    p.level = static_cast<std::uint8_t>(now_level);
    const std::uint32_t n = p.edges.load(std::memory_order_relaxed);
    Edge &e = p.ring[n % edge_ring];
    e.at_ns.store(at_ns, std::memory_order_relaxed);
    e.rising.store(static_cast<std::uint8_t>(now_level), std::memory_order_relaxed);
    p.edges.store(n + 1, std::memory_order_seq_cst);
}

// After the lock is let go: a wake costs a system call, so only for waiters.
void wake_waiters(Pin &p)
{
    if (p.waiters.load(std::memory_order_seq_cst) != 0)
        wake_edges(p);
}

Bank *map_bank(const char *call, const std::uint8_t (&pulls)[gpio_count])
{
    const int fd = open_own(state_files::pins, O_RDWR | O_CREAT);
    if (fd < 0)
        bank_failed(call, std::strerror(errno));
    // Whoever finds it empty fills it, once, while the others wait.
    if (flock(fd, LOCK_EX) != 0)
        bank_failed(call, std::strerror(errno));
    struct stat st {
    };
    if (fstat(fd, &st) != 0)
        bank_failed(call, std::strerror(errno));
    bool fresh = st.st_size == 0;
    if (fresh && ftruncate(fd, sizeof(Bank)) != 0)
        bank_failed(call, std::strerror(errno));
    if (!fresh && st.st_size != static_cast<off_t>(sizeof(Bank)))
        bank_failed(call, "not a pin bank this stand-in wrote");
    void *map = mmap(nullptr, sizeof(Bank), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED)
        bank_failed(call, std::strerror(errno));
    auto *b = static_cast<Bank *>(map);
    // One whose maker died before it wrote the magic, which comes last, is
    // still to be made.
    constexpr char none[sizeof magic] = {};
    if (!fresh && std::memcmp(b->magic, none, sizeof none) == 0)
        fresh = true;
    if (fresh) {
        // The file's zeros are the rest: a half-made bank's maker wrote no
        // more than these same values.
        // A Pi just powered on: every pin an input at its reset pull.
        for (int g = 0; g < gpio_count; ++g) {
            b->pins[g].pull = pulls[g];
            b->pins[g].level =
                static_cast<std::uint8_t>(settled_level(fn_input, 0, pulls[g], drive_none));
        }
        b->clock_divisor = 0;
        b->version = version;
        b->size = sizeof(Bank);
        std::memcpy(b->magic, magic, sizeof magic);
    } else if (std::memcmp(b->magic, magic, sizeof magic) != 0 || b->version != version ||
               b->size != sizeof(Bank)) {
        bank_failed(call, "not a pin bank this stand-in wrote");
    }
    flock(fd, LOCK_UN);
    close(fd);
    return b;
}

} // namespace

Bank &bank(const char *call, const std::uint8_t (&pulls)[gpio_count])
{
    static Bank *const mapped = map_bank(call, pulls);
    return *mapped;
}

int settled_level(int function, int latch, int pull, int drive)
{
    if (function == fn_output)
        return latch;
    if (drive != drive_none)
        return drive == drive_high ? 1 : 0;
    return pull == pull_up ? 1 : 0;
}

bool settle(Bank &b, int gpio, std::int64_t at_ns, int function, int pull, int drive)
{
    Pin &p = b.pins[gpio];
    {
        const Locked hold(b);
        if (function >= 0)
            p.function = static_cast<std::uint8_t>(function);
        if (pull >= 0)
            p.pull = static_cast<std::uint8_t>(pull);
        if (drive >= 0)
            p.drive = static_cast<std::uint8_t>(drive);
        const int now = settled_level(p.function, p.latch, p.pull, p.drive);
        if (now == p.level)
            return false;
        record_edge(p, at_ns, now);
    }
    wake_waiters(p);
    return true;
}

bool write_latch(Bank &b, int gpio, int value)
{
    Pin &p = b.pins[gpio];
    const auto latch = static_cast<std::uint8_t>(value);
    if (p.latch.load(std::memory_order_relaxed) == latch)
        return false;
    if (p.function.load(std::memory_order_relaxed) != fn_output) {
        p.latch.store(latch, std::memory_order_relaxed);
        return false;
    }
    {
        const Locked hold(b);
        p.latch = latch;
        const int now = settled_level(p.function, p.latch, p.pull, p.drive);
        if (now == p.level)
            return false;
        record_edge(p, bench_now_ns(), now);
    }
    wake_waiters(p);
    return true;
}

void wait_edges(Pin &p, std::uint32_t seen, std::int64_t timeout_ns)
{
    p.waiters.fetch_add(1, std::memory_order_seq_cst);
    wait_word(p.edges, seen, timeout_ns);
    p.waiters.fetch_sub(1, std::memory_order_seq_cst);
}

void wait_word(std::atomic<std::uint32_t> &word, std::uint32_t seen, std::int64_t timeout_ns)
{
    timespec limit{static_cast<time_t>(timeout_ns / 1000000000),
                   static_cast<long>(timeout_ns % 1000000000)};
    futex(word, FUTEX_WAIT, seen, timeout_ns < 0 ? nullptr : &limit);
}

void wake_edges(Pin &p)
{
    futex(p.edges, FUTEX_WAKE, INT_MAX, nullptr);
}

bool schedule(Bank &b, int gpio, int drive, std::int64_t at_ns, bool on_clock)
{
    for (Scheduled &slot : b.schedule) {
        std::uint32_t expected = slot_free;
        if (!slot.state.compare_exchange_strong(expected, slot_filling))
            continue;
        slot.gpio = gpio;
        slot.drive = static_cast<std::uint8_t>(drive);
        slot.at_ns = at_ns;
        slot.on_clock = on_clock ? 1 : 0;
        slot.state.store(slot_pending, std::memory_order_release);
        b.scheduled.fetch_add(1, std::memory_order_release);
        futex(b.scheduled, FUTEX_WAKE, INT_MAX, nullptr);
        return true;
    }
    return false;
}

Wave pwm_wave(const PwmChannel &c, double clock_hz)
{
    const double range = c.range.load();
    const double data = c.data.load();
    if (range <= 0 || clock_hz <= 0)
        return {0, 0};
    const double duty = data >= range ? 1.0 : data / range;
    if (duty <= 0 || duty >= 1)
        return {0, duty};
    if (c.mark_space.load() != 0)
        return {clock_hz / range, duty};
    // Balanced: the high clocks spread evenly over the range, so the pulses
    // come as often as the rarer of high and low.
    return {clock_hz * (duty < 0.5 ? duty : 1 - duty), duty};
}

} // namespace wpisim::gpio
