// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Simulated SPI bus: the two chip-select channels of the Pi's SPI0, each
// transfer taking its real time on the wire and answered by the peer.

#include "spi_bus.hpp"
#include "bench_clock.hpp"
#include "call_faults.hpp"
#include "clock.hpp"
#include "event_log.hpp"
#include "peer_choice.hpp"
#include "pi_clock.hpp"
#include "trace.hpp"
#include "wiring_faults.hpp"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr int channel_count = 2;

struct Channel {
    int fd = -1;
    int speed = 0;
};

Channel channels[channel_count];
long transfers = 0;

// The peer lives as long as the process, like the real bus's far end: never
// torn down by static destructors while the program may still be exiting.
wpisim::Peer *peer = nullptr;

// The chip selects: the peer answers on its own; on the other, nobody drives
// MISO, which stays at the Pi's pull-down, and the peer sees nothing.
class ChipSelect : public wpisim::Peer
{
  public:
    explicit ChipSelect(std::unique_ptr<wpisim::Peer> inner) : inner_(std::move(inner)) {}
    void exchange(unsigned char *data, int len, std::int64_t start_ns, std::int64_t bit_ns) override
    {
        answered_ = inner_->answers_on(channel_);
        if (answered_)
            inner_->exchange(data, len, start_ns, bit_ns);
        else
            std::memset(data, 0, static_cast<std::size_t>(len));
    }
    const char *name() const override { return inner_->name(); }
    std::int64_t began_ns() const override { return answered_ ? inner_->began_ns() : -1; }
    std::int64_t remote_cpu_ns() const override { return answered_ ? inner_->remote_cpu_ns() : 0; }
    bool outputs(int &d5, int &d6) const override { return inner_->outputs(d5, d6); }
    void select(int channel) override { channel_ = channel; }

  private:
    std::unique_ptr<wpisim::Peer> inner_;
    int channel_ = 0;
    bool answered_ = false;
};

} // namespace

int wpisim::bus::setup(int channel, int speed)
{
    // A call that works leaves errno alone, as the real library's open and
    // ioctl do; the state directory's first use may set it on the way.
    const int caller_errno = errno;
    int result = -1;
    int error = wpisim::spi_setup_fault();
    // A malformed transfer fault stops the program here, before any transfer.
    wpisim::transfer_fault(0);
    wpisim::interrupt_at(0);
    if (error == 0 && (channel < 0 || channel >= channel_count || speed <= 0))
        error = channel < 0 || channel >= channel_count ? ENODEV : EINVAL;
    if (error == 0) {
        // A real descriptor, as the library returns one for /dev/spidev0.N.
        result = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (result < 0)
            error = errno;
    }
    std::int64_t peer_cpu = 0;
    if (error == 0) {
        channels[channel] = Channel{result, speed};
        // A clock variable not understood stops the program here, before any prompt.
        wpisim::wire_clock(speed, 1);
        const std::int64_t cpu_before = wpisim::thread_cpu_ns();
        if (peer == nullptr)
            // The trace shows the lines at the Pi's header, after any wiring fault.
            peer = wpisim::traced(std::make_unique<ChipSelect>(wpisim::wired(wpisim::make_peer())))
                       .release();
        peer_cpu = wpisim::thread_cpu_ns() - cpu_before;
    }
    wpisim::Record rec("spi-setup");
    rec.num("channel", channel).num("speed", speed).num("result", result).num("errno", error);
    if (error == 0)
        rec.text("peer", peer->name()).num("peer_cpu_ns", peer_cpu);
    rec.emit();
    errno = error != 0 ? error : caller_errno;
    return result;
}

int wpisim::bus::transfer(int channel, unsigned char *data, int len)
{
    const int caller_errno = errno; // as at set-up
    const long number = ++transfers;
    // As if the operator pressed Ctrl-C right then: a test's interrupt at a
    // point it names, whatever the machine's pace.
    if (wpisim::interrupt_at(number)) {
        wpisim::Record("interrupt").num("n", number).text("signal", "SIGINT").emit();
        std::raise(SIGINT);
    }
    const std::int64_t start = wpisim::bench_now_ns();
    const bool open_channel = channel >= 0 && channel < channel_count && channels[channel].fd >= 0;
    const bool valid = len >= 0 && (len == 0 || data != nullptr);
    int error = open_channel ? wpisim::transfer_fault(number) : EBADF;
    if (error == 0 && !valid)
        error = EINVAL;

    wpisim::Record rec("spi-transfer");
    rec.num("n", number).num("channel", channel).num("len", len);
    // What the caller meant to send is logged even when the transfer fails.
    if (valid)
        rec.bytes("out", data, len);
    if (error == 0 && len > 0) {
        // The clock a real Pi would make for the requested speed.
        const wpisim::WireClock wire = wpisim::wire_clock(channels[channel].speed, number);
        const std::int64_t bit_ns = wire.bit_ns;
        rec.num("sclk_hz", std::llround(wire.sclk_hz)).num("bit_ns", bit_ns);
        if (wire.core_mhz != 0)
            rec.num("core_mhz", wire.core_mhz);
        const std::int64_t cpu_before = wpisim::thread_cpu_ns();
        peer->select(channel);
        peer->exchange(data, len, start, bit_ns);
        // A bus busy with another run's transfer starts this one later.
        const std::int64_t began = peer->began_ns() >= 0 ? peer->began_ns() : start;
        // What the simulated peer cost this host, for the benchmark.
        rec.num("peer_cpu_ns", wpisim::thread_cpu_ns() - cpu_before + peer->remote_cpu_ns());
        // The transfer blocks for its time on the wire, 8 bit-times a byte.
        wpisim::bench_wait_until(began + bit_ns * 8 * len);
    }
    if (error == 0)
        rec.bytes("in", data, len);
    rec.num("start_ns", start).num("end_ns", wpisim::bench_now_ns());
    rec.num("result", error == 0 ? len : -1).num("errno", error).emit();
    if (error != 0) {
        errno = error;
        return -1;
    }
    errno = caller_errno;
    return len;
}
