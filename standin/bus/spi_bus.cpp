// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Simulated SPI bus: the Pi's SPI0 with its two chip selects, each transfer
// taking its real time on the wire and answered by the peer, in the mode its
// channel was set up with. The library's table has seven controllers of three
// chip selects; as on a Pi with SPI enabled, only /dev/spidev0.0 and
// /dev/spidev0.1 exist.

#include "spi_bus.hpp"
#include "bench_clock.hpp"
#include "call_faults.hpp"
#include "clock.hpp"
#include "event_log.hpp"
#include "peer_choice.hpp"
#include "pi_clock.hpp"
#include "pi_session.hpp"
#include "trace.hpp"
#include "wiring_faults.hpp"

#include <wiringPi.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int numbers = 7;
constexpr int channels_per_number = 3;
// spidev's buffer, bufsiz, as the Pi's kernel sets it by default.
constexpr int max_transfer = 4096;

struct Channel {
    int fd = -1;
    int speed = 0;
    int mode = 0;
};

Channel channels[numbers][channels_per_number];
long transfers = 0;

// The peer lives as long as the process, like the real bus's far end: never
// torn down by static destructors while the program may still be exiting.
wpisim::Peer *peer = nullptr;
wpisim::Trace *trace = nullptr;

// The library's bounds check, its message word for word: it ends no line.
bool within_limits(int number, int channel)
{
    if (channel < 0 || channel >= channels_per_number) {
        std::fprintf(stderr, "wiringPiSPI: Invalid SPI channel (%d, valid range 0-%d)", channel,
                     channels_per_number - 1);
        return false;
    }
    if (number < 0 || number >= numbers) {
        std::fprintf(stderr, "wiringPiSPI: Invalid SPI number  (%d, valid range 0-%d)", number,
                     numbers - 1);
        return false;
    }
    return true;
}

// The bytes on the wire, answered by the peer and watched by the trace, at
// the channel's clock and mode; returns when the last bit is out.
void on_the_wire(wpisim::Record &rec, long n, const Channel &c, wpisim::Transfer t)
{
    // The clock a real Pi would make for the requested speed.
    const wpisim::WireClock wire = wpisim::wire_clock(c.speed, n);
    t.bit_ns = wire.bit_ns;
    t.mode = c.mode;
    rec.num("sclk_hz", std::llround(wire.sclk_hz)).num("bit_ns", t.bit_ns);
    if (wire.core_mhz != 0)
        rec.num("core_mhz", wire.core_mhz);
    std::vector<unsigned char> sent;
    if (trace != nullptr)
        sent.assign(t.data, t.data + t.len);
    const std::int64_t cpu_before = wpisim::thread_cpu_ns();
    const wpisim::Outcome o = peer->exchange(t);
    // What the simulated peer cost this host, for the benchmark.
    rec.num("peer_cpu_ns", wpisim::thread_cpu_ns() - cpu_before + o.remote_cpu_ns);
    // Nobody drives MISO: it stays at the Pi's pull-down.
    if (!o.answered)
        std::memset(t.data, 0, static_cast<std::size_t>(t.len));
    if (trace != nullptr) {
        wpisim::Exchange x;
        x.channel = t.channel;
        x.mode = t.mode;
        // Drawn where it really ran: a busy bus starts it later.
        x.start_ns = o.began_ns >= 0 ? o.began_ns : t.start_ns;
        x.bit_ns = t.bit_ns;
        x.called_ns = t.start_ns;
        x.len = t.len;
        x.sent = sent.data();
        x.got = t.data;
        x.has_outputs = o.has_outputs;
        x.d5 = o.d5;
        x.d6 = o.d6;
        trace->transfer(x);
    }
    // A bus busy with another run's transfer starts this one later; the
    // transfer blocks for its time on the wire, 8 bit-times a byte.
    const std::int64_t began = o.began_ns >= 0 ? o.began_ns : t.start_ns;
    wpisim::bench_wait_until(began + t.bit_ns * 8 * t.len);
}

// Which call of several numbered controllers this was; SPI0 is the default.
void log_number(wpisim::Record &rec, int number)
{
    if (number != 0)
        rec.num("number", number);
}

} // namespace

int wpisim::bus::setup(int number, int channel, int speed, int mode)
{
    // A call that works leaves errno alone, as the real library's open and
    // ioctl do; the state directory's first use may set it on the way.
    const int caller_errno = errno;
    int result = -1;
    int error = 0;
    // A malformed setting stops the program here, before any transfer.
    const int fault = wpisim::spi_setup_fault();
    wpisim::transfer_fault(0);
    wpisim::interrupt_at(0);
    std::int64_t peer_cpu = 0;
    if (!within_limits(number, channel)) {
        result = -EINVAL;
    } else if (mode < 0 || mode > 3) {
        std::fprintf(stderr, "wiringPiSPI: Invalid mode (%d, valid range 0-%d)", mode, 3);
        result = -EINVAL;
    } else {
        error = fault;
        // The device file of a controller or chip select the Pi does not have.
        if (error == 0 && (number != 0 || channel > 1))
            error = ENOENT;
        if (error == 0 && speed <= 0)
            error = EINVAL;
        if (error == 0) {
            // A real descriptor, as the library returns one for /dev/spidev0.N.
            // A second set-up opens another and leaves the first open, as the library does.
            result = open("/dev/null", O_RDWR | O_CLOEXEC);
            if (result < 0)
                error = errno;
        }
    }
    if (result >= 0) {
        channels[number][channel] = Channel{result, speed, mode};
        // A clock variable not understood stops the program here, before any prompt.
        wpisim::wire_clock(speed, 1);
        if (peer == nullptr) {
            const std::int64_t cpu_before = wpisim::thread_cpu_ns();
            peer = wpisim::wired(wpisim::make_peer()).release();
            peer_cpu = wpisim::thread_cpu_ns() - cpu_before;
            // The trace shows the lines at the Pi's header, after any wiring fault.
            trace = wpisim::run_trace();
        }
    }
    wpisim::Record rec("spi-setup");
    log_number(rec, number);
    rec.num("channel", channel).num("speed", speed).num("mode", mode);
    rec.num("result", result).num("errno", error);
    if (result >= 0)
        rec.text("peer", peer->name()).num("peer_cpu_ns", peer_cpu);
    rec.emit();
    if (error != 0) {
        // As 3.14: the library's own line, and the end of the program unless
        // a wiringPiSetup has turned on WIRINGPI_CODES; then -1.
        const std::string device =
            "/dev/spidev" + std::to_string(number) + "." + std::to_string(channel);
        errno = error;
        if (error == EINVAL)
            wpisim::pi::library_failure(WPI_ALMOST, "SPI speed change failure: %s\n",
                                        std::strerror(error));
        else
            wpisim::pi::library_failure(WPI_ALMOST, "Unable to open SPI device %s: %s\n",
                                        device.c_str(), std::strerror(error));
        errno = error;
        return -1;
    }
    errno = caller_errno;
    return result;
}

int wpisim::bus::transfer(int number, int channel, unsigned char *data, int len)
{
    const int caller_errno = errno; // as at set-up
    const long n = ++transfers;
    // As if the operator pressed Ctrl-C right then: a test's interrupt at a
    // point it names, whatever the machine's pace.
    if (wpisim::interrupt_at(n)) {
        wpisim::Record("interrupt").num("n", n).text("signal", "SIGINT").emit();
        std::raise(SIGINT);
    }
    const std::int64_t start = wpisim::bench_now_ns();
    const bool readable = len >= 0 && (len == 0 || data != nullptr);
    wpisim::Record rec("spi-transfer");
    rec.num("n", n);
    log_number(rec, number);
    rec.num("channel", channel).num("len", len);
    // What the caller meant to send is logged even when the transfer fails.
    if (readable)
        rec.bytes("out", data, len);
    int result = -1;
    int error = 0;
    if (!within_limits(number, channel)) {
        result = -EINVAL;
    } else if (channels[number][channel].fd == -1) {
        std::fprintf(stderr, "wiringPiSPI: Invalid SPI number/channel (need "
                             "wiringPiSPIxSetupMode before read/write)");
        result = -EBADF;
    } else {
        // The ioctl, which takes no more than the driver's buffer.
        error = wpisim::transfer_fault(n);
        if (error == 0 && (len < 0 || len > max_transfer))
            error = EMSGSIZE;
        if (error == 0 && !readable)
            error = EFAULT;
        result = error == 0 ? len : -1;
    }
    if (error == 0 && result > 0)
        on_the_wire(rec, n, channels[number][channel], {data, len, channel, 0, start, 0});
    if (result >= 0)
        rec.bytes("in", data, len);
    rec.num("start_ns", start).num("end_ns", wpisim::bench_now_ns());
    rec.num("result", result).num("errno", error).emit();
    errno = error != 0 ? error : caller_errno;
    return result;
}

int wpisim::bus::fd(int number, int channel)
{
    const int result = within_limits(number, channel) ? channels[number][channel].fd : -1;
    wpisim::Record rec("spi-fd");
    log_number(rec, number);
    rec.num("channel", channel).num("result", result).emit();
    return result;
}

int wpisim::bus::close(int number, int channel)
{
    const int caller_errno = errno;
    int result = -EINVAL;
    int error = 0;
    if (within_limits(number, channel)) {
        // A channel never opened closes without complaint, as in the library.
        Channel &c = channels[number][channel];
        result = 0;
        if (c.fd > 0 && ::close(c.fd) != 0) {
            result = -1;
            error = errno;
        }
        c = Channel{};
    }
    wpisim::Record rec("spi-close");
    log_number(rec, number);
    rec.num("channel", channel).num("result", result).num("errno", error).emit();
    errno = error != 0 ? error : caller_errno;
    return result;
}
