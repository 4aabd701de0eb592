// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "interrupts.hpp"

#include "bench_clock.hpp"
#include "board_line.hpp"
#include "clock.hpp"
#include "event_log.hpp"
#include "pi_session.hpp"
#include "pin_bank.hpp"
#include "pin_trace.hpp"
#include "pins.hpp"
#include "this_pi.hpp"

#include <wiringPi.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace wpisim::gpio
{

namespace
{

// The ids of the kernel's line events, which waitForInterrupt returns.
constexpr int event_rising = 1;
constexpr int event_falling = 2;
// wiringPiISR sleeps a second before it asks the kernel for the line's events.
constexpr std::int64_t isr_setup_ns = 1000000000;
// How long a wait may sleep before it looks at the schedule again.
constexpr std::int64_t look_every_ns = 50000000;
// In virtual time the clock stands still while an interrupt function runs for
// a scheduled edge; one that runs longer than this (one that waits for a lock
// the waiting thread holds) lets it go on.
constexpr std::int64_t handler_limit_ns = 1000000000;

// A line whose events this process asked the kernel for: what
// waitForInterrupt reads. wiringPiISR requests it by GPIO.
struct Line {
    bool active = false;
    int mode = 0;
    std::uint32_t wait_seen = 0; // waitForInterrupt's
};

// An interrupt function and its thread. 3.14 keeps them by the pin number as
// the program gave it, and wiringPiISRStop finds them, and the line, by that
// number too, untranslated.
struct Handler {
    std::uint64_t generation = 0; // 0: none
    void (*function)() = nullptr;
    int gpio = -1;
    std::uint32_t isr_seen = 0; // under lock
};

constexpr int pin_numbers = 64;

// Never destroyed: the interrupt threads outlive the program's static
// objects, as the library's do.
std::mutex &state_lock()
{
    static auto *const m = new std::mutex;
    return *m;
}
std::condition_variable &handled()
{
    static auto *const c = new std::condition_variable;
    return *c;
}
Line lines[gpio_count];
Handler handlers[pin_numbers];
std::uint64_t generations = 0;

struct Due {
    std::int64_t at_ns;
    int gpio;
    int drive;
};
// Under the lock, soonest last.
std::vector<Due> &schedule_taken()
{
    static auto *const v = new std::vector<Due>;
    return *v;
}
// The GPIO whose interrupt function this thread runs, if it is such a thread:
// one that waits for its own function would wait for itself.
thread_local int serving = -1;
std::atomic<std::uint32_t> schedule_seen{0};
// Whether a drive was taken and not yet applied, for a look without the lock.
std::atomic<bool> drives_waiting{false};
// Interrupt functions and waits on GPIOs wired to a board: while there are
// any, the clock stops at the board's changes. And the last such change.
std::atomic<int> board_watchers{0};
std::int64_t board_change_at = -1; // under lock

Bank &shared()
{
    return pins_bank("wiringPiISR");
}

bool matches(int mode, bool rising)
{
    return mode == INT_EDGE_BOTH || (mode == INT_EDGE_RISING && rising) ||
           (mode == INT_EDGE_FALLING && !rising);
}

// Takes the drives scheduled since the last look; under lock.
void take_new(Bank &b)
{
    const std::uint32_t now = b.scheduled.load(std::memory_order_acquire);
    if (now == schedule_seen.load(std::memory_order_relaxed))
        return;
    schedule_seen.store(now, std::memory_order_relaxed);
    for (Scheduled &slot : b.schedule) {
        if (slot.state.load(std::memory_order_acquire) != slot_pending)
            continue;
        const Due d{slot.on_clock != 0 ? slot.at_ns : epoch_ns() + slot.at_ns, slot.gpio,
                    slot.drive};
        std::uint32_t expected = slot_pending;
        if (slot.state.compare_exchange_strong(expected, slot_free))
            schedule_taken().push_back(d);
    }
    // Soonest last; drives at one time keep the order they were given in.
    std::stable_sort(schedule_taken().begin(), schedule_taken().end(),
                     [](const Due &a, const Due &b) { return a.at_ns > b.at_ns; });
    drives_waiting = !schedule_taken().empty();
}

// The drives due by now, taken off the list; under lock.
std::vector<Due> pop_due(std::int64_t now)
{
    std::vector<Due> due;
    while (!schedule_taken().empty() && schedule_taken().back().at_ns <= now) {
        due.push_back(schedule_taken().back());
        schedule_taken().pop_back();
    }
    return due;
}

void apply(const Due &d)
{
    Record("outside-drive").num("gpio", d.gpio).num("drive", d.drive).num("at_ns", d.at_ns).emit();
    settle(shared(), d.gpio, d.at_ns, -1, -1, d.drive);
    trace_pins();
}

std::int64_t next_due(std::int64_t limit)
{
    std::lock_guard<std::mutex> hold(state_lock());
    take_new(shared());
    std::int64_t due = -1;
    if (!schedule_taken().empty() && schedule_taken().back().at_ns <= limit)
        due = schedule_taken().back().at_ns;
    if (board_watchers.load() > 0) {
        bool changed = false;
        const std::int64_t change = board_next_change(due >= 0 ? due : limit, &changed);
        if (change >= 0)
            due = change;
        if (changed)
            board_change_at = change;
    }
    return due;
}

// Whether every interrupt function of this process on the GPIO has had its
// edges up to edges; under lock.
bool all_handled(int gpio, std::uint32_t edges)
{
    return std::all_of(std::begin(handlers), std::end(handlers), [&](const Handler &h) {
        return h.generation == 0 || h.function == nullptr || h.gpio != gpio || h.isr_seen >= edges;
    });
}

// piLock keys this thread holds: an interrupt function may want one.
thread_local int user_locks = 0;

// Virtual time: the clock stands at the drive's time until every interrupt
// function of this program has seen its edge, so the function runs then. A
// call's own cost, or a thread holding a piLock, does not wait for it.
void happen(std::int64_t at, bool waiting)
{
    std::unique_lock<std::mutex> hold(state_lock());
    for (const Due &d : pop_due(at)) {
        hold.unlock();
        apply(d);
        hold.lock();
        if (serving == d.gpio || !waiting || user_locks != 0)
            continue;
        const std::uint32_t edges = shared().pins[d.gpio].edges.load();
        handled().wait_for(hold, std::chrono::nanoseconds(handler_limit_ns),
                           [&] { return all_handled(d.gpio, edges); });
    }
    // A board's change: the board put it in the bank at its time.
    if (board_change_at != at || !waiting || user_locks != 0)
        return;
    board_change_at = -1;
    for (int gpio = 0; gpio < gpio_count; ++gpio) {
        if (!wired(gpio) || serving == gpio)
            continue;
        const std::uint32_t edges = shared().pins[gpio].edges.load();
        handled().wait_for(hold, std::chrono::nanoseconds(handler_limit_ns),
                           [&] { return all_handled(gpio, edges); });
    }
}

// A board puts its edge in the bank as it runs to it, a moment before the
// clock that asked steps there: the function runs at the edge's time, never
// before. The step follows at once, so this waits microseconds.
void clock_reaches(std::int64_t at)
{
    const std::int64_t give_up = now_ns() + handler_limit_ns;
    while (bench_now_ns() < at && now_ns() < give_up) {
        const timespec moment{0, 20000};
        nanosleep(&moment, nullptr);
    }
}

struct ThreadStart {
    int pin;
    int gpio;
    std::uint64_t generation;
};

// The thread wiringPiISR starts: one call of the function per edge of its
// kind, in order, as the kernel's event queue gives them, while its line is
// requested.
void *serve(void *arg)
{
    const ThreadStart start = *static_cast<ThreadStart *>(arg);
    delete static_cast<ThreadStart *>(arg);
    Bank &b = shared();
    const int gpio = start.gpio;
    Pin &p = b.pins[gpio];
    std::unique_lock<std::mutex> hold(state_lock());
    serving = gpio;
    for (;;) {
        Handler &h = handlers[start.pin];
        if (h.generation != start.generation || !lines[gpio].active)
            return nullptr;
        const std::uint32_t edges = p.edges.load(std::memory_order_acquire);
        if (edges == h.isr_seen) {
            hold.unlock();
            if (!virtual_time())
                catch_up();
            wait_edges(p, edges, look_every_ns);
            hold.lock();
            continue;
        }
        // Events the kernel's queue could not keep are lost, the oldest first.
        if (edges - h.isr_seen > static_cast<std::uint32_t>(edge_ring))
            h.isr_seen = edges - edge_ring;
        const Edge &e = p.ring[h.isr_seen % edge_ring];
        const bool rising = e.rising.load() != 0;
        const std::int64_t at = e.at_ns.load();
        void (*function)() = h.function;
        const bool call = function != nullptr && matches(lines[gpio].mode, rising);
        hold.unlock();
        if (virtual_time())
            clock_reaches(at);
        if (call) {
            Record("isr").num("gpio", gpio).num("rising", rising ? 1 : 0).num("edge_ns", at).emit();
            function();
        }
        hold.lock();
        if (handlers[start.pin].generation == start.generation)
            ++handlers[start.pin].isr_seen;
        handled().notify_all();
    }
}

// The GPIO a pin number names for the interrupt calls: only the memory
// numberings translate; through the GPIO character device the number is the
// line's.
int line_of(int pin)
{
    const Numbering n = numbering();
    if (n == numbering_wpi || n == numbering_phys)
        return to_gpio(pin);
    return pin;
}

const char *mode_word(int mode)
{
    return mode == INT_EDGE_FALLING ? "falling" : mode == INT_EDGE_RISING ? "rising" : "both";
}

} // namespace

void edge_made(int gpio)
{
    if (!virtual_time() || serving == gpio || user_locks != 0)
        return;
    std::unique_lock<std::mutex> hold(state_lock());
    const std::uint32_t edges = shared().pins[gpio].edges.load();
    handled().wait_for(hold, std::chrono::nanoseconds(handler_limit_ns),
                       [&] { return all_handled(gpio, edges); });
}

void note_user_lock(int change)
{
    user_locks += change;
}

void start_schedule()
{
    if (virtual_time())
        on_clock_events({next_due, happen});
    std::lock_guard<std::mutex> hold(state_lock());
    take_new(shared());
}

void catch_up()
{
    // Drives are taken at set-up: before it, or in a program that never sets
    // up its pins, there are none.
    if (!set_up())
        return;
    // Nothing scheduled, the common case, costs two loads.
    Bank &b = shared();
    if (!drives_waiting.load(std::memory_order_relaxed) &&
        b.scheduled.load(std::memory_order_relaxed) ==
            schedule_seen.load(std::memory_order_relaxed))
        return;
    std::unique_lock<std::mutex> hold(state_lock());
    take_new(b);
    const std::vector<Due> due = pop_due(bench_now_ns());
    drives_waiting = !schedule_taken().empty();
    hold.unlock();
    for (const Due &d : due)
        apply(d);
}

int isr(int pin, int mode, void (*function)())
{
    const int top = max_pin();
    if (pin < 0 || pin > top)
        return pi::library_failure(WPI_FATAL, "wiringPiISR: pin must be 0-%d (%d)\n", top, pin);
    if (!set_up())
        return pi::library_failure(
            WPI_FATAL, "wiringPiISR: wiringPi has not been initialised. Unable to continue.\n");
    {
        std::lock_guard<std::mutex> hold(state_lock());
        if (handlers[pin].function != nullptr)
            std::printf("wiringPi: ISR function alread active, ignoring \n");
        handlers[pin].function = function;
    }
    bench_wait_until(bench_now_ns() + isr_setup_ns);
    // No edge asked for, or no line: the library's thread ends at once, and
    // takes the function with it.
    const auto no_thread = [&] {
        std::lock_guard<std::mutex> hold(state_lock());
        handlers[pin].function = nullptr;
        return 0;
    };
    if (mode != INT_EDGE_FALLING && mode != INT_EDGE_RISING && mode != INT_EDGE_BOTH)
        return no_thread();
    const int gpio = line_of(pin);
    if (gpio < 0 || gpio >= this_pi::gpio_lines()) {
        std::fprintf(stderr,
                     "wiringPi: ERROR: ioctl get line event of %d (%s) returned error 'Invalid "
                     "argument' (-1)\n",
                     gpio, mode_word(mode));
        return no_thread();
    }
    Bank &b = shared();
    // The kernel's line request makes the pin an input.
    settle(b, gpio, bench_now_ns(), fn_input, -1, -1);
    // A board's edges before the request are not the line's.
    if (wired(gpio))
        board_to_now();
    trace_pins();
    std::lock_guard<std::mutex> hold(state_lock());
    const std::uint32_t edges = b.pins[gpio].edges.load();
    lines[gpio] = Line{true, mode, edges};
    if (wired(gpio) && handlers[pin].generation == 0)
        ++board_watchers;
    handlers[pin] = Handler{++generations, function, gpio, edges};
    pthread_t thread;
    auto *start = new ThreadStart{pin, gpio, handlers[pin].generation};
    if (pthread_create(&thread, nullptr, serve, start) != 0) {
        delete start;
        return 0;
    }
    pthread_detach(thread);
    // Logged once the edges are watched: from here on none is missed.
    Record("isr-setup").num("pin", pin).num("mode", mode).num("gpio", gpio).emit();
    return 0;
}

namespace
{

// The next edge of the line's kind the waiter has not seen, as the event id
// waitForInterrupt returns, or 0; under lock.
int next_event(std::unique_lock<std::mutex> &hold, Line &l, const Pin &p, int gpio)
{
    const std::uint32_t edges = p.edges.load(std::memory_order_acquire);
    if (edges - l.wait_seen > static_cast<std::uint32_t>(edge_ring))
        l.wait_seen = edges - edge_ring;
    while (l.wait_seen != edges) {
        const std::uint32_t index = l.wait_seen++;
        const Edge &e = p.ring[index % edge_ring];
        const bool rising = e.rising.load() != 0;
        if (!matches(l.mode, rising))
            continue;
        Record("interrupt-wait")
            .num("gpio", gpio)
            .num("rising", rising ? 1 : 0)
            .num("edge_ns", e.at_ns.load())
            .emit();
        // In virtual time the interrupt function has its edge first, as a
        // scheduled edge gives it, so a run goes the same way twice.
        if (virtual_time() && serving != gpio)
            handled().wait_for(hold, std::chrono::nanoseconds(handler_limit_ns),
                               [&] { return all_handled(gpio, index + 1); });
        return rising ? event_rising : event_falling;
    }
    return 0;
}

// Waits for an edge or a scheduled drive, up to end (-1: none).
void wait_more(Pin &p, std::uint32_t edges, std::int64_t end)
{
    const std::int64_t now = bench_now_ns();
    if (virtual_time()) {
        // Waiting is time passing: on to the next scheduled drive, or the
        // end; with neither, only an outside drive can come.
        const std::int64_t due = next_due(end >= 0 ? end : INT64_MAX);
        if (due >= 0 || end >= 0)
            bench_wait_until(due >= 0 ? due : end);
        else if (board_watchers.load() > 0)
            bench_wait_until(bench_now_ns() + look_every_ns);
        else
            wait_edges(p, edges, look_every_ns);
        return;
    }
    catch_up();
    const std::int64_t due = next_due(INT64_MAX);
    std::int64_t sleep = look_every_ns;
    if (end >= 0)
        sleep = std::min(sleep, end - now);
    if (due >= 0)
        sleep = std::min(sleep, std::max<std::int64_t>(due - now, 0));
    if (sleep > 0)
        wait_edges(p, edges, sleep);
}

} // namespace

int wait_for_interrupt(int pin, int ms)
{
    const int gpio = line_of(pin);
    if (gpio < 0 || gpio >= gpio_count)
        return -2;
    Pin &p = shared().pins[gpio];
    const std::int64_t end = ms < 0 ? -1 : bench_now_ns() + static_cast<std::int64_t>(ms) * 1000000;
    // The board runs on while the program waits for its edge.
    struct Watching {
        bool on;
        explicit Watching(bool w) : on(w)
        {
            if (on)
                ++board_watchers;
        }
        ~Watching()
        {
            if (on)
                --board_watchers;
        }
        Watching(const Watching &) = delete;
        Watching &operator=(const Watching &) = delete;
    } watching(wired(gpio));
    if (watching.on)
        board_to_now();
    for (;;) {
        std::unique_lock<std::mutex> hold(state_lock());
        Line &l = lines[gpio];
        if (!l.active)
            return -2;
        const std::uint32_t edges = p.edges.load(std::memory_order_acquire);
        if (const int event = next_event(hold, l, p, gpio); event != 0)
            return event;
        hold.unlock();
        if (end >= 0 && bench_now_ns() >= end) {
            std::fprintf(stderr, "wiringPi: ERROR: poll returned=0\n");
            return 0;
        }
        wait_more(p, edges, end);
    }
}

int isr_stop(int pin)
{
    Record("isr-stop").num("pin", pin).emit();
    if (pin < 0 || pin >= pin_numbers)
        return 0;
    int woken = -1;
    {
        std::lock_guard<std::mutex> hold(state_lock());
        // As 3.14: the thread and function by the number given, and the line
        // by that same number taken as a GPIO, which in wiringPi or physical
        // numbering is another line, left requested.
        woken = handlers[pin].gpio;
        if (handlers[pin].generation != 0 && wired(woken))
            --board_watchers;
        handlers[pin] = Handler{};
        if (pin < gpio_count)
            lines[pin].active = false;
        handled().notify_all();
    }
    // Its thread sees it at its next look, or at once.
    if (woken >= 0)
        wake_edges(shared().pins[woken]);
    if (pin < gpio_count)
        wake_edges(shared().pins[pin]);
    return 0;
}

} // namespace wpisim::gpio
