// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Simulated GPIO bank. A pin's mode and level live in small text files in the
// state directory (pin0.mode, pin0.level), so a level set by one process is
// still there for the next, as on a Pi.

#include "gpio_bank.hpp"
#include "diagnostic.hpp"
#include "event_log.hpp"
#include "state_dir.hpp"

#include <wiringPi.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int pin_count = 32;

bool set_up = false;
std::string state_dir;
int state_fd = -1;

[[noreturn]] void cannot_write(const char *call, const std::string &file)
{
    wpisim::fail(std::string(call) + ": state file " + wpisim::quoted(state_dir + "/" + file),
                 std::strerror(errno));
}

// Writes all of text to fd; false with errno set on failure.
bool write_all(int fd, const std::string &text)
{
    const ssize_t n = write(fd, text.data(), text.size());
    if (n >= 0 && n != static_cast<ssize_t>(text.size()))
        errno = EIO;
    return n == static_cast<ssize_t>(text.size());
}

// A new file under a name no one else has used. O_EXCL and O_NOFOLLOW: a
// name planted in advance, or a link, is never written through.
int create_temporary(std::string &name, const std::string &file)
{
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = "." + file + "." + std::to_string(getpid()) + "." + std::to_string(serial++);
        const int fd = openat(state_fd, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Mode and level are separate files, as separate as the hardware's registers,
// so each call writes one file and reads none. Written to a temporary file and
// renamed, so a reader never sees half a state. Signals wait while the
// temporary file has a name, so an interrupted program leaves none behind.
void write_state(const char *call, int pin, const char *what, const char *value)
{
    const std::string file = "pin" + std::to_string(pin) + "." + what;
    const std::string text = std::string(value) + "\n";
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &before);
    std::string tmp;
    const int fd = create_temporary(tmp, file);
    if (fd < 0)
        cannot_write(call, file);
    const bool written = write_all(fd, text);
    const int saved = errno;
    if (close(fd) != 0 || !written ||
        renameat(state_fd, tmp.c_str(), state_fd, file.c_str()) != 0) {
        const int reason = written ? errno : saved;
        unlinkat(state_fd, tmp.c_str(), 0);
        errno = reason;
        cannot_write(call, file);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

// The real library crashes or exits on these; flagging and ignoring the call
// lets a test see the mistake.
bool usable(const char *call, int pin)
{
    const char *reason = nullptr;
    if (!set_up)
        reason = "before-wiringPiSetup";
    else if (pin < 0 || pin >= pin_count)
        reason = "no-such-pin";
    if (reason == nullptr)
        return true;
    wpisim::Record("misuse").text("call", call).num("pin", pin).text("reason", reason).emit();
    std::fprintf(stderr, "wpisim: %s(%d): ignored: %s\n", call, pin, reason);
    return false;
}

} // namespace

namespace wpisim::gpio
{

int setup(int fault)
{
    const std::string where = state_dir_path();
    // A directory that cannot hold the pins is the stand-in's own failure,
    // not the library call's: one line from us, and the program goes no further.
    if (fault == 0)
        state_fd = state_dir_fd();
    Record("gpio-setup")
        .text("state_dir", where)
        .num("result", fault == 0 ? 0 : -1)
        .num("errno", fault)
        .emit();
    if (fault != 0) {
        errno = fault;
        return -1;
    }
    state_dir = where;
    set_up = true;
    return 0;
}

void set_mode(int pin, int mode)
{
    Record("pin-mode").num("pin", pin).num("mode", mode).emit();
    if (!usable("pinMode", pin))
        return;
    write_state("pinMode", pin, "mode", mode == OUTPUT ? "output" : "input");
}

void write(int pin, int value)
{
    Record("digital-write").num("pin", pin).num("value", value).emit();
    if (!usable("digitalWrite", pin))
        return;
    write_state("digitalWrite", pin, "level", value == LOW ? "low" : "high");
}

} // namespace wpisim::gpio
