// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The library's serial calls, as wiringPi 3.14 makes them: a terminal opened
// raw at the baud rate asked, 8N1, reads timing out after ten seconds. The
// Pi's UART (/dev/serial0, /dev/ttyAMA0, /dev/ttyS0) is the board process's
// pi.tty, wired to the board's D0 and D1; its USB port (/dev/ttyACM0,
// /dev/ttyUSB0) is board.tty, the terminal a user's monitor opens. Any other
// path is opened as it is. On the virtual clock the board runs only when a
// run asks, so each call on a board's port tells it where the run's time is.

#include "bench_clock.hpp"
#include "bench_file.hpp"
#include "board_client.hpp"
#include "clock.hpp"
#include "event_log.hpp"
#include "state_dir.hpp"
#include "state_files.hpp"

#include <wiringSerial.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{

using namespace wpisim;

// What serialOpen takes, as the library's switch has them; -2 for any other.
speed_t speed_of(int baud)
{
    static const std::pair<int, speed_t> rates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000}};
    for (const auto &r : rates)
        if (r.first == baud)
            return r.second;
    return B0;
}

// The board's port a device names, or -1.
int board_port(const char *device)
{
    for (const char *uart : {"/dev/serial0", "/dev/ttyAMA0", "/dev/ttyS0"})
        if (std::strcmp(device, uart) == 0)
            return link::serial_uart;
    for (const char *usb : {"/dev/ttyACM0", "/dev/ttyUSB0"})
        if (std::strcmp(device, usb) == 0)
            return link::serial_usb;
    return -1;
}

// Whether the bench has a board on that port: a bench file's board says
// serial = "uart" or "usb"; the default bench's one board is on both.
bool on_the_bench(int kind)
{
    const Bench &bench = the_bench();
    if (bench.path.empty())
        return true;
    const char *how = kind == link::serial_uart ? "uart" : "usb";
    return std::any_of(bench.boards.begin(), bench.boards.end(),
                       [how](const BenchBoard &b) { return b.serial == how; });
}

struct Port {
    int kind = link::serial_uart;
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t written = 0; // by the calls since the last sync
};

std::mutex &ports_lock()
{
    static std::mutex m;
    return m;
}
std::map<int, Port> &ports()
{
    static std::map<int, Port> p;
    return p;
}
SerialLink *&board_link()
{
    static SerialLink *l = nullptr;
    return l;
}

// The board's port this descriptor is, still: null for any other file.
Port *port_of(int fd)
{
    const auto it = ports().find(fd);
    struct stat st {
    };
    if (it == ports().end() || fstat(fd, &st) != 0 || st.st_rdev != it->second.dev ||
        st.st_ino != it->second.ino)
        return nullptr;
    return &it->second;
}

int readable(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// Tells the board the run's time, and lets it run on towards until_ns or
// the first byte for this port; the clock then stands where it stopped.
// The bytes it put in the port are waited for, as the kernel hands them over.
void sync(int fd, Port &p, std::int64_t until_ns)
{
    if (!virtual_time() || board_link() == nullptr)
        return;
    link::SerialSyncRequest req{};
    req.now_ns = bench_now_ns();
    req.until_ns = std::max(until_ns, req.now_ns);
    req.written = p.written;
    req.port = p.kind;
    const int before = readable(fd);
    const link::SerialSyncAnswer a = board_link()->serial_sync(req);
    p.written = 0;
    const std::int64_t give_up = now_ns() + link::second_ns;
    while (a.delivered > 0 && readable(fd) < before + a.delivered && now_ns() < give_up) {
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, 1);
    }
    if (a.reached_ns > bench_now_ns())
        bench_wait_until(a.reached_ns);
}

void wrote(int fd, ssize_t n)
{
    const std::lock_guard<std::mutex> hold(ports_lock());
    if (Port *p = port_of(fd)) {
        p->written += n > 0 ? static_cast<std::uint64_t>(n) : 0;
        sync(fd, *p, 0);
    }
}

} // namespace

extern "C" int serialOpen(const char *device, const int baud)
{
    const speed_t speed = speed_of(baud);
    if (speed == B0)
        return -2;
    const int kind = board_port(device);
    std::string path = device;
    const char *tty = kind == link::serial_uart ? state_files::pi_tty : state_files::board_tty;
    if (kind >= 0) {
        const std::lock_guard<std::mutex> hold(ports_lock());
        if (board_link() == nullptr && on_the_bench(kind))
            board_link() = serial_link();
        if (board_link() == nullptr || !on_the_bench(kind)) {
            // No board on that port, or none in this build: a Pi with
            // nothing there.
            errno = ENOENT;
            return -1;
        }
        path = state_dir_path() + "/" + tty;
    }
    struct stat st {
    };
    // The board's terminals are this user's own: another's would let them
    // read or steer the run's serial line.
    if (kind >= 0 && lstat(path.c_str(), &st) == 0)
        require_own(st.st_uid, tty);
    // 3.14 asks for O_NDELAY too: the same flag on Linux.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (kind >= 0 && fd >= 0 && fstat(fd, &st) == 0)
        require_own(st.st_uid, tty);
    Record("serial-open")
        .text("device", device)
        .num("baud", baud)
        .num("result", fd)
        .num("errno", fd < 0 ? errno : 0)
        .emit();
    if (fd == -1)
        return -1;
    fcntl(fd, F_SETFL, O_RDWR);
    termios options{};
    tcgetattr(fd, &options);
    cfmakeraw(&options);
    cfsetispeed(&options, speed);
    cfsetospeed(&options, speed);
    options.c_cflag |= (CLOCAL | CREAD);
    options.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE);
    options.c_cflag |= CS8;
    options.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG);
    options.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    options.c_cc[VMIN] = 0;
    options.c_cc[VTIME] = 100; // ten seconds
    tcsetattr(fd, TCSANOW, &options);
    // A pseudo-terminal has no modem lines: the library's DTR and RTS go nowhere.
    const int saved = errno;
    int status = 0;
    if (ioctl(fd, TIOCMGET, &status) == 0) {
        status |= TIOCM_DTR | TIOCM_RTS;
        ioctl(fd, TIOCMSET, &status);
    }
    errno = saved;
    if (kind >= 0) {
        const std::lock_guard<std::mutex> hold(ports_lock());
        ports()[fd] = Port{kind, st.st_rdev, st.st_ino, 0};
        sync(fd, ports()[fd], 0);
    }
    // The library's own settling time.
    bench_wait_until(bench_now_ns() + 10000000);
    return fd;
}

extern "C" void serialFlush(const int fd)
{
    tcflush(fd, TCIOFLUSH);
}

extern "C" void serialClose(const int fd)
{
    {
        const std::lock_guard<std::mutex> hold(ports_lock());
        if (Port *p = port_of(fd))
            sync(fd, *p, 0);
        ports().erase(fd);
    }
    Record("serial-close").num("fd", fd).emit();
    close(fd);
}

extern "C" void serialPutchar(const int fd, const unsigned char c)
{
    const ssize_t n = write(fd, &c, 1);
    if (n != 1)
        std::perror("Error writing to file descriptor");
    wrote(fd, n);
}

extern "C" void serialPuts(const int fd, const char *s)
{
    const std::size_t len = std::strlen(s);
    const ssize_t n = write(fd, s, len);
    if (n != static_cast<ssize_t>(len))
        std::perror("Error writing to file descriptor");
    wrote(fd, n);
}

extern "C" void serialPrintf(const int fd, const char *message, ...)
{
    char buffer[1024] = {};
    va_list argp;
    va_start(argp, message);
    // Started on the line before: the analyzer loses it in this C variadic.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(buffer, 1023, message, argp);
    va_end(argp);
    serialPuts(fd, buffer);
}

extern "C" int serialDataAvail(const int fd)
{
    {
        const std::lock_guard<std::mutex> hold(ports_lock());
        if (Port *p = port_of(fd))
            sync(fd, *p, 0);
    }
    int result = 0;
    if (ioctl(fd, FIONREAD, &result) == -1)
        return -1;
    return result;
}

extern "C" int serialGetchar(const int fd)
{
    std::unique_lock<std::mutex> hold(ports_lock());
    Port *p = port_of(fd);
    termios t{};
    // On the virtual clock a read's wait is time passing: the board runs on
    // until a byte comes, or for the terminal's VTIME when VMIN is 0.
    if (p != nullptr && virtual_time() && board_link() != nullptr && tcgetattr(fd, &t) == 0) {
        const bool timed = t.c_cc[VMIN] == 0;
        const std::int64_t deadline = bench_now_ns() + t.c_cc[VTIME] * std::int64_t{100000000};
        while (readable(fd) == 0 && (!timed || bench_now_ns() < deadline))
            sync(fd, *p, timed ? deadline : bench_now_ns() + 10 * link::second_ns);
        // The byte is there, or the time is up: the read returns at once.
        const int flags = fcntl(fd, F_GETFL);
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        std::uint8_t x = 0;
        const ssize_t n = read(fd, &x, 1);
        fcntl(fd, F_SETFL, flags);
        return n == 1 ? x : -1;
    }
    hold.unlock();
    std::uint8_t x = 0;
    if (read(fd, &x, 1) != 1)
        return -1;
    return x;
}
