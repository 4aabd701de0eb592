// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors

// The bus as a logic analyzer on the Pi's header would record it, written as
// a VCD that PulseView, GTKWave and sigrok read. Each transfer in its own SPI
// mode, MSB first: SCLK idles at CPOL, and moves there before CE falls; the
// data lines change where the Pi's controller changes MOSI (with CPHA 0 as CE
// falls and on each trailing edge, with CPHA 1 on each leading edge), so a
// decoder set to the same CPOL and CPHA reads the bytes the Pi sent and read.
// CE falls half a bit before the first edge and rises half a bit after the
// last, as the board peer sees it.
//
// The time unit is the coarsest of 1 us, 100 ns, 10 ns and 1 ns in which
// every bit of the run so far spans at least 20 units: fine enough for the
// clock, coarse enough that a reader which expands the file into samples at
// that rate (sigrok, PulseView) stays fast. A faster transfer later in the run
// rewrites the file in the finer unit, so no transfer is ever rounded away.
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

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wpisim
{

namespace
{

enum Signal { sclk, mosi, miso, ce0, ce1, d5, d6, signal_count };
const char ids[signal_count] = {'!', '"', '#', '$', '\'', '%', '&'};

// One value change, or (signal none) a time mark with no change.
struct Change {
    std::int64_t ns; // since the trace began
    int signal;
    int value;
};
constexpr int none = -1;

std::int64_t unit_for(std::int64_t bit_ns)
{
    std::int64_t unit = 1000;
    while (unit > 1 && bit_ns < 20 * unit)
        unit /= 10;
    return unit;
}

class VcdTrace : public Trace
{
  public:
    VcdTrace(int fd, std::string path, bool rewritable)
        : fd_(fd), path_(std::move(path)), rewritable_(rewritable), origin_ns_(bench_now_ns()),
          unit_ns_(rewritable ? 1000 : 1)
    {
        for (int s = 0; s < signal_count; ++s)
            value_[s] = s == ce0 || s == ce1 ? 1 : 0;
        rewrite();
    }
    ~VcdTrace() override { close(fd_); }
    VcdTrace(const VcdTrace &) = delete;
    VcdTrace &operator=(const VcdTrace &) = delete;

    void transfer(const Transfer &t, const unsigned char *sent, const Outcome &o) override
    {
        // Drawn where it really ran: a busy bus starts it later.
        const std::int64_t start_ns = o.began_ns >= 0 ? o.began_ns : t.start_ns;
        const std::int64_t bit_ns = t.bit_ns;
        const std::size_t first = changes_.size();
        const std::int64_t half = bit_ns / 2;
        const int idle = t.mode >> 1 & 1;
        const bool cpha = (t.mode & 1) != 0;
        const Signal ce = t.channel == 1 ? ce1 : ce0;
        // A new polarity is set before the chip select falls, never with it.
        set(start_ns - half, sclk, idle);
        set(start_ns, ce, 0);
        for (int k = 0; k < 8 * t.len; ++k) {
            const std::int64_t cell = start_ns + k * bit_ns;
            const int shift = 7 - k % 8;
            const std::int64_t change = cpha ? cell + half : cell;
            set(change, mosi, sent[k / 8] >> shift & 1);
            set(change, miso, t.data[k / 8] >> shift & 1);
            set(cell + half, sclk, 1 - idle);
            set(cell + bit_ns, sclk, idle);
        }
        const std::int64_t end = start_ns + bit_ns * 8 * t.len;
        set(end + half, ce, 1);
        // D5 and D6 as the board shows them when the exchange ends; a PWM
        // mid-fade is drawn high from half brightness on. (Multi-bit values
        // would carry the duty, but sigrok's VCD reader stops at them.)
        if (o.has_outputs) {
            set(end + half, d5, o.d5 >= 128 ? 1 : 0);
            set(end + half, d6, o.d6 >= 128 ? 1 : 0);
        }
        // A timestamp after the last change, so a reader sees CE0 rise even
        // in the last exchange of a run.
        changes_.push_back({end + bit_ns - origin_ns_, none, 0});
        if (rewritable_ && unit_for(bit_ns) < unit_ns_) {
            unit_ns_ = unit_for(bit_ns);
            rewrite();
            return;
        }
        std::string text;
        draw(first, text);
        write_all(text);
    }

  private:
    void set(std::int64_t ns, Signal s, int value)
    {
        if (value_[s] == value)
            return;
        value_[s] = value;
        changes_.push_back({ns - origin_ns_, s, value});
    }

    // The whole trace so far, in the current unit, over what was there.
    void rewrite()
    {
        std::string text = "$version wiringPi stand-in $end\n$timescale " +
                           std::to_string(unit_ns_ % 1000 == 0 ? unit_ns_ / 1000 : unit_ns_) +
                           (unit_ns_ % 1000 == 0 ? " us" : " ns") +
                           " $end\n$scope module pi $end\n";
        const char *names[signal_count] = {"SCLK", "MOSI", "MISO", "CE0", "CE1", "D5", "D6"};
        for (int s = 0; s < signal_count; ++s) {
            if (s == d5)
                text += "$upscope $end\n$scope module board $end\n";
            text += std::string("$var wire 1 ") + ids[s] + ' ' + names[s] + " $end\n";
        }
        text += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
        for (int s = 0; s < signal_count; ++s)
            text += std::string(1, s == ce0 || s == ce1 ? '1' : '0') + ids[s] + '\n';
        text += "$end\n";
        time_ = 0;
        draw(0, text);
        if (rewritable_ && lseek(fd_, 0, SEEK_SET) != 0)
            failed(std::strerror(errno));
        write_all(text);
        if (rewritable_ && ftruncate(fd_, static_cast<off_t>(text.size())) != 0)
            failed(std::strerror(errno));
    }

    // Changes from first on, each under its timestamp in the current unit.
    void draw(std::size_t first, std::string &text)
    {
        for (std::size_t i = first; i < changes_.size(); ++i) {
            const Change &c = changes_[i];
            std::int64_t t = (c.ns + unit_ns_ / 2) / unit_ns_;
            t = t < time_ ? time_ : t; // VCD time never runs back
            if (t != time_) {
                time_ = t;
                text += '#' + std::to_string(t) + '\n';
            }
            if (c.signal != none) {
                text += static_cast<char>('0' + c.value);
                text += ids[c.signal];
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
        }
    }

    [[noreturn]] void failed(const char *why)
    {
        fail("WPISIM_TRACE=" + quoted(path_), std::string("cannot write: ") + why);
    }

    int fd_;
    std::string path_;
    bool rewritable_; // a regular file; anything else is written once, in ns
    std::int64_t origin_ns_;
    std::int64_t unit_ns_;
    std::int64_t time_ = 0; // the last timestamp written, in units
    int value_[signal_count] = {};
    std::vector<Change> changes_;
};

} // namespace

std::unique_ptr<Trace> open_trace()
{
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
    return std::make_unique<VcdTrace>(fd, *path, S_ISREG(st.st_mode));
}

} // namespace wpisim
