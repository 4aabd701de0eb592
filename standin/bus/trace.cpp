// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors

// The bus as a logic analyzer on the Pi's header would record it, written as
// a VCD that PulseView, GTKWave and sigrok read. SPI mode 0: SCLK idles low,
// both data lines change on its falling edge and are sampled on its rising
// edge, MSB first; CE0 falls half a bit before the first rising edge and rises
// half a bit after the last falling one, as the board peer sees it.

#include "trace.hpp"

#include "clock.hpp"
#include "diagnostic.hpp"
#include "settings.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace wpisim
{

namespace
{

enum Signal { sclk, mosi, miso, ce0, d5, d6, signal_count };
const char ids[signal_count] = {'!', '"', '#', '$', '%', '&'};

class TracePeer : public Peer
{
  public:
    TracePeer(std::unique_ptr<Peer> inner, std::FILE *file)
        : inner_(std::move(inner)), file_(file), origin_ns_(now_ns())
    {
    }
    ~TracePeer() override { std::fclose(file_); }
    TracePeer(const TracePeer &) = delete;
    TracePeer &operator=(const TracePeer &) = delete;

    void exchange(unsigned char *data, int len, std::int64_t start_ns, std::int64_t bit_ns) override
    {
        sent_.assign(data, data + len);
        inner_->exchange(data, len, start_ns, bit_ns);
        if (unit_ns_ == 0)
            header(bit_ns);
        const std::int64_t half = bit_ns / 2;
        set(start_ns, ce0, 0);
        for (int k = 0; k < 8 * len; ++k) {
            const std::int64_t cell = start_ns + k * bit_ns;
            const int shift = 7 - k % 8;
            set(cell, sclk, 0);
            set(cell, mosi, sent_[k / 8] >> shift & 1);
            set(cell, miso, data[k / 8] >> shift & 1);
            set(cell + half, sclk, 1);
        }
        const std::int64_t end = start_ns + bit_ns * 8 * len;
        set(end, sclk, 0);
        set(end + half, ce0, 1);
        // D5 and D6 as the board shows them when the exchange ends; a PWM
        // mid-fade is drawn high from half brightness on. (Multi-bit values
        // would carry the duty, but sigrok's VCD reader stops at them.)
        int duty[2] = {0, 0};
        if (inner_->outputs(duty[0], duty[1])) {
            set(end + half, d5, duty[0] >= 128 ? 1 : 0);
            set(end + half, d6, duty[1] >= 128 ? 1 : 0);
        }
        // A timestamp after the last change, so a reader sees CE0 rise even
        // in the last exchange of a run.
        at(end + bit_ns);
        // Flushed each time, so a run ended by a signal keeps its trace.
        std::fwrite(text_.data(), 1, text_.size(), file_);
        std::fflush(file_);
        text_.clear();
    }

    const char *name() const override { return inner_->name(); }
    bool outputs(int &a, int &b) const override { return inner_->outputs(a, b); }

  private:
    // A bit spans at least 20 time units, so the file stays small at 5 kHz
    // yet exact enough for any clock the bus may run at.
    void header(std::int64_t bit_ns)
    {
        unit_ns_ = bit_ns >= 20000 ? 1000 : bit_ns >= 200 ? 10 : 1;
        const char *unit = unit_ns_ == 1000 ? "1 us" : unit_ns_ == 10 ? "10 ns" : "1 ns";
        text_ += "$version wiringPi stand-in $end\n$timescale ";
        text_ += unit;
        text_ += " $end\n$scope module pi $end\n";
        const char *names[signal_count] = {"SCLK", "MOSI", "MISO", "CE0", "D5", "D6"};
        for (int s = 0; s < signal_count; ++s) {
            if (s == d5)
                text_ += "$upscope $end\n$scope module board $end\n";
            text_ += std::string("$var wire 1 ") + ids[s] + ' ' + names[s] + " $end\n";
        }
        text_ += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
        for (int s = 0; s < signal_count; ++s) {
            value_[s] = s == ce0 ? 1 : 0;
            text_ += std::to_string(value_[s]) + ids[s] + '\n';
        }
        text_ += "$end\n";
    }

    void at(std::int64_t ns)
    {
        std::int64_t t = (ns - origin_ns_ + unit_ns_ / 2) / unit_ns_;
        t = t < time_ ? time_ : t; // VCD time never runs back
        if (t != time_) {
            time_ = t;
            text_ += '#' + std::to_string(t) + '\n';
        }
    }

    void set(std::int64_t ns, Signal s, int value)
    {
        if (value_[s] == value)
            return;
        at(ns);
        value_[s] = value;
        text_ += static_cast<char>('0' + value);
        text_ += ids[s];
        text_ += '\n';
    }

    std::unique_ptr<Peer> inner_;
    std::FILE *file_;
    std::int64_t origin_ns_;
    std::int64_t unit_ns_ = 0;
    std::int64_t time_ = 0;
    int value_[signal_count] = {};
    std::vector<unsigned char> sent_;
    std::string text_;
};

} // namespace

std::unique_ptr<Peer> traced(std::unique_ptr<Peer> peer)
{
    const auto path = setting_text("WPISIM_TRACE");
    if (!path)
        return peer;
    std::FILE *file = std::fopen(path->c_str(), "we");
    if (file == nullptr)
        fail("WPISIM_TRACE=" + quoted(*path), std::string("cannot write: ") + std::strerror(errno));
    return std::make_unique<TracePeer>(std::move(peer), file);
}

} // namespace wpisim
