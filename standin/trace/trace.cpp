// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors

// The run as a logic analyzer on the Pi's header would record it, written as
// a VCD that PulseView, GTKWave and sigrok read. Each transfer in its own SPI
// mode, MSB first: SCLK idles at CPOL, and moves there before CE falls; the
// data lines change where the Pi's controller changes MOSI (with CPHA 0 as CE
// falls and on each trailing edge, with CPHA 1 on each leading edge), so a
// decoder set to the same CPOL and CPHA reads the bytes the Pi sent and read.
// CE falls half a bit before the first edge and rises half a bit after the
// last, as the board peer sees it.
//
// A traced GPIO is drawn from what the GPIO side tells: its level or wave at
// each change the program makes, and edges from outside at their own times.
// A wave's edges are worked out from its period when the next change, a
// transfer or the end of the run comes; past max_edges a pin is drawn as
// unknown from then on, so a fast PWM over a long run cannot swamp a reader.
//
// The time unit is the coarsest of 1 us, 100 ns, 10 ns and 1 ns in which
// every bit of the run so far, and every pulse of a traced wave, spans at
// least 20 units: fine enough for the clock, coarse enough that a reader
// which expands the file into samples at that rate (sigrok, PulseView) stays
// fast. Needing a finer unit later rewrites the file in it, so nothing is ever
// rounded away.
//
// News can come late: a transfer is drawn to its end as it begins, an
// outside edge is seen at the next look. What comes before the end of the
// file is merged in and the file rewritten from the last write before it.
//
// A run holds the file under an exclusive lock for as long as it lives, so
// runs at once never mix their lines: the first run keeps the trace and the
// others are refused at set-up. Each exchange is written as it ends, so a run
// ended by a signal keeps its trace, and a write that fails ends the run.

#include "trace.hpp"

#include "bench_clock.hpp"
#include "diagnostic.hpp"
#include "own_file.hpp"
#include "settings.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wpisim
{

PinShape PinShape::wave(double period_ns, double high_ns)
{
    if (high_ns <= 0)
        return steady(0);
    if (high_ns >= period_ns)
        return steady(1);
    return {period_ns, high_ns, 0};
}

int PinShape::level_at(std::int64_t ns) const
{
    if (!waving())
        return level;
    return std::fmod(static_cast<double>(ns), period_ns) < high_ns ? 1 : 0;
}

namespace
{

enum Signal { sclk, mosi, miso, ce0, ce1, sda, scl, d5, d6, bus_signals };
const char ids[bus_signals] = {'!', '"', '#', '$', '\'', '(', ')', '%', '&'};
const char *const names[bus_signals] = {"SCLK", "MOSI", "MISO", "CE0", "CE1",
                                        "SDA",  "SCL",  "D5",   "D6"};
// Chip selects and the I2C lines idle high.
constexpr bool idles_high(int s)
{
    return s == ce0 || s == ce1 || s == sda || s == scl;
}
// The traced GPIOs' identifiers follow those of the bus.
constexpr char first_pin_id = '*';

// Enough for a long look at a fast PWM; millions more would only make a
// reader expand the file into more samples than it can hold.
constexpr long max_edges = 1000000;

constexpr int unknown = 2; // drawn as x
constexpr std::size_t checkpoint_every = 1024;

// One value change, or (signal none) a time mark with no change.
struct Change {
    std::int64_t ns; // since the trace began
    int signal;
    int value;
};
constexpr int none = -1;

// Where a write began, to go back to when news comes from before it.
struct Checkpoint {
    std::size_t index; // the first change written there
    off_t offset;
    std::int64_t time; // the last timestamp before it, in units
};

std::int64_t unit_for(std::int64_t span_ns)
{
    std::int64_t unit = 1000;
    while (unit > 1 && span_ns < 20 * unit)
        unit /= 10;
    return unit;
}

// A traced GPIO as drawn so far.
struct Wire {
    int gpio = 0;
    int signal = 0;
    PinShape shape;
    bool known = false;          // told anything yet
    std::int64_t last_ns = 0;    // drawn up to here
    std::int64_t changed_ns = 0; // its last change drawn
    int level = unknown;
    long edges = 0;
    bool capped = false;
};

// WPISIM_TRACE_PINS, as its row has checked it.
std::vector<int> pins_of(const std::optional<std::string> &text)
{
    std::vector<int> pins;
    if (!text)
        return pins;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text->find(',', from);
        pins.push_back(std::stoi(text->substr(from, comma - from)));
        if (comma == std::string::npos)
            return pins;
        from = comma + 1;
    }
}

class VcdTrace : public Trace
{
  public:
    VcdTrace(int fd, std::string path, bool rewritable, std::vector<int> pins,
             std::int64_t origin_ns)
        : fd_(fd), path_(std::move(path)), rewritable_(rewritable), origin_ns_(origin_ns),
          unit_ns_(rewritable ? 1000 : 1), pins_(std::move(pins))
    {
        for (int s = 0; s < bus_signals; ++s)
            value_[s] = idles_high(s) ? 1 : 0;
        for (std::size_t i = 0; i < pins_.size(); ++i) {
            Wire w;
            w.gpio = pins_[i];
            w.signal = bus_signals + static_cast<int>(i);
            wires_.push_back(w);
        }
        rewrite();
    }
    ~VcdTrace() override { close(fd_); }
    VcdTrace(const VcdTrace &) = delete;
    VcdTrace &operator=(const VcdTrace &) = delete;

    void transfer(const Exchange &x) override
    {
        if (broken())
            return;
        const std::lock_guard<std::mutex> hold(lock_);
        for (Wire &w : wires_)
            advance(w, x.called_ns);
        const std::int64_t start_ns = x.start_ns;
        const std::int64_t bit_ns = x.bit_ns;
        const std::int64_t half = bit_ns / 2;
        const int idle = x.mode >> 1 & 1;
        const bool cpha = (x.mode & 1) != 0;
        const Signal ce = x.channel == 1 ? ce1 : ce0;
        // A new polarity is set before the chip select falls, never with it.
        set(start_ns - half, sclk, idle);
        set(start_ns, ce, 0);
        for (int k = 0; k < 8 * x.len; ++k) {
            const std::int64_t cell = start_ns + k * bit_ns;
            const int shift = 7 - k % 8;
            const std::int64_t change = cpha ? cell + half : cell;
            set(change, mosi, x.sent[k / 8] >> shift & 1);
            set(change, miso, x.got[k / 8] >> shift & 1);
            set(cell + half, sclk, 1 - idle);
            set(cell + bit_ns, sclk, idle);
        }
        const std::int64_t end = start_ns + bit_ns * 8 * x.len;
        set(end + half, ce, 1);
        // D5 and D6 as the board shows them when the exchange ends; a PWM
        // mid-fade is drawn high from half brightness on. (Multi-bit values
        // would carry the duty, but sigrok's VCD reader stops at them.)
        if (x.has_outputs) {
            set(end + half, d5, x.d5 >= 128 ? 1 : 0);
            set(end + half, d6, x.d6 >= 128 ? 1 : 0);
        }
        // A timestamp after the last change, so a reader sees CE0 rise even
        // in the last exchange of a run.
        bus_ns_ = std::max(bus_ns_, end + bit_ns);
        add(bus_ns_, none, 0);
        finer(bit_ns);
        write_pending();
    }

    void i2c(const std::vector<I2cLevel> &lines, std::int64_t bit_ns) override
    {
        if (broken() || lines.empty())
            return;
        const std::lock_guard<std::mutex> hold(lock_);
        for (Wire &w : wires_)
            advance(w, lines.front().at_ns);
        for (const I2cLevel &l : lines) {
            set(l.at_ns, scl, l.scl);
            set(l.at_ns, sda, l.sda);
        }
        // A time mark after the STOP, so a reader sees it in the last transfer too.
        add(lines.back().at_ns + bit_ns / 4, none, 0);
        // SDA moves a quarter period after SCL.
        finer(bit_ns / 4);
        write_pending();
    }

    const std::vector<int> &pins() const override { return pins_; }

    void edge(int gpio, std::int64_t at_ns, int level) override
    {
        if (broken())
            return;
        const std::lock_guard<std::mutex> hold(lock_);
        Wire *w = wire(gpio);
        if (w == nullptr || !w->known || w->shape.waving())
            return;
        // Seen late, it still falls after the pin's last change.
        at_ns = std::max(at_ns, w->changed_ns);
        w->last_ns = std::max(at_ns, w->last_ns);
        draw(*w, at_ns, level);
    }

    void shape(int gpio, std::int64_t at_ns, const PinShape &s) override
    {
        if (broken())
            return;
        const std::lock_guard<std::mutex> hold(lock_);
        Wire *w = wire(gpio);
        if (w == nullptr)
            return;
        advance(*w, at_ns);
        // A wave locked to the clock goes on as it was.
        if (w->known && s.waving() && s == w->shape)
            return;
        at_ns = std::max(at_ns, w->last_ns);
        w->shape = s;
        w->known = true;
        w->last_ns = at_ns;
        draw(*w, at_ns, s.level_at(at_ns));
        if (s.waving())
            finer(static_cast<std::int64_t>(std::min(s.high_ns, s.period_ns - s.high_ns)));
    }

    void commit() override
    {
        if (broken())
            return;
        const std::lock_guard<std::mutex> hold(lock_);
        write_pending();
    }

    void finish(std::int64_t at_ns) override
    {
        if (broken())
            return;
        const std::lock_guard<std::mutex> hold(lock_);
        for (Wire &w : wires_)
            advance(w, at_ns);
        add(at_ns, none, 0);
        write_pending();
    }

    bool broken() const override { return broken_.load(); }

  private:
    Wire *wire(int gpio)
    {
        for (Wire &w : wires_)
            if (w.gpio == gpio)
                return &w;
        return nullptr;
    }

    void add(std::int64_t ns, int signal, int value)
    {
        pending_.push_back({ns - origin_ns_, signal, value});
    }

    // The bus's lines never run back: a transfer that begins before the last
    // one's chip select has risen is drawn from there on.
    void set(std::int64_t ns, Signal s, int value)
    {
        bus_ns_ = std::max(bus_ns_, ns);
        if (value_[s] == value)
            return;
        value_[s] = value;
        add(bus_ns_, s, value);
    }

    // A pin's level from at_ns on, unless it is already that or past its edges.
    void draw(Wire &w, std::int64_t at_ns, int level)
    {
        if (w.capped || w.level == level)
            return;
        if (++w.edges > max_edges) {
            w.capped = true;
            level = unknown;
            std::fprintf(stderr,
                         "wpisim: WPISIM_TRACE_PINS: GPIO %d: drawn as unknown (x) after its first "
                         "%ld edges: more would swamp a reader of the trace\n",
                         w.gpio, max_edges);
        }
        w.level = level;
        w.changed_ns = at_ns;
        add(at_ns, w.signal, level);
    }

    // A wave's edges after what is drawn, up to at_ns.
    void advance(Wire &w, std::int64_t at_ns)
    {
        if (at_ns <= w.last_ns)
            return;
        if (w.known && w.shape.waving() && !w.capped) {
            const double period = w.shape.period_ns;
            const auto after = static_cast<double>(w.last_ns);
            const auto until = static_cast<double>(at_ns);
            // Counted in whole periods, so no rounding creeps into the count.
            for (auto k = static_cast<std::int64_t>(std::floor(after / period));
                 static_cast<double>(k) * period <= until && !w.capped; ++k) {
                const double rise = static_cast<double>(k) * period;
                const double fall = rise + w.shape.high_ns;
                if (rise > after && rise <= until)
                    draw(w, std::llround(rise), 1);
                if (fall > after && fall <= until)
                    draw(w, std::llround(fall), 0);
            }
        }
        w.last_ns = at_ns;
    }

    // A unit fine enough for a span; the file is rewritten in it at the next write.
    void finer(std::int64_t span_ns)
    {
        if (rewritable_ && unit_for(span_ns) < unit_ns_) {
            unit_ns_ = unit_for(span_ns);
            redo_ = true;
        }
    }

    void write_pending()
    {
        if (pending_.empty() && !redo_)
            return;
        const auto early = [](const Change &a, const Change &b) { return a.ns < b.ns; };
        std::stable_sort(pending_.begin(), pending_.end(), early);
        const std::size_t old = changes_.size();
        const bool late = old != 0 && !pending_.empty() && pending_.front().ns < changes_.back().ns;
        changes_.insert(changes_.end(), pending_.begin(), pending_.end());
        pending_.clear();
        // Not a file that can be rewritten: what comes late is drawn late.
        if (late && rewritable_) {
            // What was there first stays first at one time.
            const auto old_end = changes_.begin() + static_cast<std::ptrdiff_t>(old);
            const auto from = std::upper_bound(changes_.begin(), old_end, changes_[old], early);
            std::inplace_merge(from, old_end, changes_.end(), early);
            if (!redo_) {
                redraw_from(static_cast<std::size_t>(from - changes_.begin()));
                return;
            }
        }
        if (redo_) {
            redo_ = false;
            rewrite();
            return;
        }
        if (rewritable_ && old - checkpoints_.back().index >= 64)
            checkpoints_.push_back({old, offset_, time_});
        std::string text;
        draw_changes(old, text, offset_);
        write_all(text);
    }

    // The file again from the last write that began at or before change first.
    void redraw_from(std::size_t first)
    {
        auto cp = std::upper_bound(
            checkpoints_.begin(), checkpoints_.end(), first,
            [](std::size_t index, const Checkpoint &c) { return index < c.index; });
        --cp; // the header's is at 0
        const Checkpoint at = *cp;
        checkpoints_.erase(cp + 1, checkpoints_.end());
        time_ = at.time;
        std::string text;
        draw_changes(at.index, text, at.offset);
        if (lseek(fd_, at.offset, SEEK_SET) != at.offset)
            failed(std::strerror(errno));
        offset_ = at.offset;
        write_all(text);
        if (ftruncate(fd_, offset_) != 0)
            failed(std::strerror(errno));
    }

    // The whole trace so far, in the current unit, over what was there.
    void rewrite()
    {
        std::string text = "$version wiringPi stand-in $end\n$timescale " +
                           std::to_string(unit_ns_ % 1000 == 0 ? unit_ns_ / 1000 : unit_ns_) +
                           (unit_ns_ % 1000 == 0 ? " us" : " ns") +
                           " $end\n$scope module pi $end\n";
        for (int s = 0; s < bus_signals; ++s) {
            if (s == d5)
                text += "$upscope $end\n$scope module board $end\n";
            text += std::string("$var wire 1 ") + ids[s] + ' ' + names[s] + " $end\n";
        }
        if (!wires_.empty())
            text += "$upscope $end\n$scope module gpio $end\n";
        for (const Wire &w : wires_)
            text += std::string("$var wire 1 ") + id(w.signal) + " GPIO" + std::to_string(w.gpio) +
                    " $end\n";
        text += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
        for (int s = 0; s < bus_signals; ++s)
            text += std::string(1, idles_high(s) ? '1' : '0') + ids[s] + '\n';
        for (const Wire &w : wires_)
            text += std::string("x") + id(w.signal) + '\n';
        text += "$end\n";
        time_ = 0;
        checkpoints_.assign(1, {0, static_cast<off_t>(text.size()), 0});
        draw_changes(0, text, 0);
        if (rewritable_ && lseek(fd_, 0, SEEK_SET) != 0)
            failed(std::strerror(errno));
        offset_ = 0;
        write_all(text);
        if (rewritable_ && ftruncate(fd_, offset_) != 0)
            failed(std::strerror(errno));
    }

    static char id(int signal)
    {
        return signal < bus_signals ? ids[signal]
                                    : static_cast<char>(first_pin_id + signal - bus_signals);
    }

    // Changes from first on, each under its timestamp in the current unit, to
    // go in the file after base bytes; with a checkpoint now and then, so news
    // that come late never redraw much.
    void draw_changes(std::size_t first, std::string &text, off_t base)
    {
        for (std::size_t i = first; i < changes_.size(); ++i) {
            if (i - checkpoints_.back().index >= checkpoint_every)
                checkpoints_.push_back({i, base + static_cast<off_t>(text.size()), time_});
            const Change &c = changes_[i];
            std::int64_t t = (c.ns + unit_ns_ / 2) / unit_ns_;
            t = t < time_ ? time_ : t; // VCD time never runs back
            if (t != time_) {
                time_ = t;
                text += '#' + std::to_string(t) + '\n';
            }
            if (c.signal != none) {
                text += "01x"[c.value];
                text += id(c.signal);
                text += '\n';
            }
        }
    }

    // A trace cut short in silence would mislead whoever reads it.
    void write_all(const std::string &text)
    {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                failed(n < 0 ? std::strerror(errno) : "short write");
            done += static_cast<std::size_t>(n);
            offset_ += n;
        }
    }

    [[noreturn]] void failed(const char *why)
    {
        // Exiting runs the end-of-run hooks, which must find the trace closed.
        broken_ = true;
        fail("WPISIM_TRACE=" + quoted(path_), std::string("cannot write: ") + why);
    }

    int fd_;
    std::string path_;
    bool rewritable_; // a regular file; anything else is written once, in ns
    std::int64_t origin_ns_;
    std::int64_t unit_ns_;
    std::int64_t time_ = 0; // the last timestamp written, in units
    off_t offset_ = 0;      // the file's end
    bool redo_ = false;     // the unit changed: the whole file again
    int value_[bus_signals] = {};
    std::int64_t bus_ns_ = INT64_MIN; // the bus's last change
    std::vector<int> pins_;
    std::vector<Wire> wires_;
    std::vector<Change> changes_; // written, in time order
    std::vector<Change> pending_; // not yet
    std::vector<Checkpoint> checkpoints_;
    std::mutex lock_;
    std::atomic<bool> broken_{false};
};

// Where the trace's time begins, when whoever opens it says.
std::atomic<std::int64_t> origin_asked{-1};

Trace *open_trace()
{
    const std::int64_t asked = origin_asked.load();
    const std::int64_t origin = asked >= 0 ? asked : bench_now_ns();
    // Read first, so a list without a trace to go in is refused.
    const auto pin_list = setting_text("WPISIM_TRACE_PINS");
    const auto path = setting_text("WPISIM_TRACE");
    if (!path)
        return nullptr;
    const std::string what = "WPISIM_TRACE=" + quoted(*path);
    // Not truncated before the lock is ours: it may be another run's trace.
    const int fd = open_unblocked(AT_FDCWD, *path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0)
        fail(what, errno == ENXIO ? open_error(errno)
                                  : std::string("cannot write: ") + std::strerror(errno));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(what, errno == EWOULDBLOCK ? "another run is tracing to it"
                                        : std::string("cannot lock: ") + std::strerror(errno));
    struct stat st {
    };
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0))
        fail(what, std::string("cannot write: ") + std::strerror(errno));
    // Lives as long as the process: the program may still be exiting.
    return new VcdTrace(fd, *path, S_ISREG(st.st_mode), pins_of(pin_list), origin);
}

} // namespace

Trace *run_trace()
{
    static Trace *const trace = open_trace();
    return trace;
}

Trace *run_trace(std::int64_t origin_ns)
{
    origin_asked = origin_ns;
    return run_trace();
}

} // namespace wpisim
