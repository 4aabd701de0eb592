// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "pin_trace.hpp"

#include "bench_clock.hpp"
#include "diagnostic.hpp"
#include "pin_bank.hpp"
#include "pins.hpp"
#include "settings.hpp"
#include "this_pi.hpp"
#include "trace.hpp"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

namespace wpisim::gpio
{

namespace
{

std::mutex lock;
std::atomic<Trace *> traced{nullptr};
Bank *watched = nullptr;
std::uint32_t seen[gpio_count]; // each pin's edges already told

// Under lock.
void look(Trace &t, std::int64_t now)
{
    for (const int g : t.pins()) {
        const Pin &p = watched->pins[g];
        const std::uint32_t edges = p.edges.load(std::memory_order_acquire);
        // The ring keeps the latest; older ones are gone.
        std::uint32_t next =
            edges - seen[g] > static_cast<std::uint32_t>(edge_ring) ? edges - edge_ring : seen[g];
        for (; next != edges; ++next) {
            const Edge &e = p.ring[next % edge_ring];
            t.edge(g, e.at_ns.load(), e.rising.load());
        }
        seen[g] = edges;
        t.shape(g, now, shape_of(*watched, g));
    }
    t.commit();
}

void at_exit()
{
    Trace *t = traced.load();
    // A trace that failed is what this exit is for.
    if (t == nullptr || t->broken())
        return;
    const std::lock_guard<std::mutex> hold(lock);
    const std::int64_t now = bench_now_ns();
    look(*t, now);
    t->finish(now);
}

} // namespace

void trace_setup(Bank &b, std::int64_t epoch_ns)
{
    Trace *t = run_trace(epoch_ns);
    if (t == nullptr)
        return;
    for (const int g : t->pins())
        if (g >= this_pi::gpio_lines())
            fail("WPISIM_TRACE_PINS=" + quoted(*setting_text("WPISIM_TRACE_PINS")),
                 "GPIO " + std::to_string(g) + ": a " + this_pi::word() + " has GPIOs 0 to " +
                     std::to_string(this_pi::gpio_lines() - 1));
    const std::lock_guard<std::mutex> hold(lock);
    watched = &b;
    for (const int g : t->pins())
        seen[g] = b.pins[g].edges.load(std::memory_order_acquire);
    look(*t, bench_now_ns());
    traced = t;
    std::atexit(at_exit);
}

void trace_pins()
{
    Trace *t = traced.load();
    if (t == nullptr)
        return;
    const std::lock_guard<std::mutex> hold(lock);
    look(*t, bench_now_ns());
}

} // namespace wpisim::gpio
