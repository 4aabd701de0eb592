// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wiringPi's GPIO calls on the shared pin bank. What a call does with a pin or
// value the library refuses follows wiringPi 3.14 (docs/wiringpi-calls.md);
// what it costs a Pi moves the virtual clock.

#include "pins.hpp"

#include "board_line.hpp"

#include "bench_clock.hpp"
#include "diagnostic.hpp"
#include "event_log.hpp"
#include "interrupts.hpp"
#include "nodes.hpp"
#include "pi_session.hpp"
#include "pin_bank.hpp"
#include "pin_trace.hpp"
#include "state_dir.hpp"
#include "this_pi.hpp"

#include <wiringPi.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace wpisim::gpio
{

namespace
{

// What a call costs a Pi, for the virtual clock. A register access through
// /dev/gpiomem: wiringPi toggles a pin at about 10 MHz on a Pi 2 and faster
// since, so 50 ns a call; clock_gettime through the vDSO about 150 ns. Waits
// the library itself makes are its own: 110 us after a PWM pin's function
// changes or its clock stops, 10 us after each range register, four 5 us
// waits in the BCM283x's pull sequence.
constexpr std::int64_t register_ns = 50;
constexpr std::int64_t pwm_function_wait_ns = 110000;
constexpr std::int64_t pwm_range_wait_ns = 20000;
constexpr std::int64_t pwm_clock_wait_ns = 110000;
constexpr std::int64_t legacy_pull_ns = 20000;

Numbering chosen = numbering_none;
std::int64_t epoch = 0;
Bank *shared = nullptr;

bool device_numbering()
{
    return chosen == numbering_device_bcm || chosen == numbering_device_wpi ||
           chosen == numbering_device_phys;
}

// The library stops a program that uses a pin before any set-up.
void setup_check(const char *call)
{
    if (chosen != numbering_none)
        return;
    std::fprintf(stderr,
                 "%s: You have not called one of the wiringPiSetup\n"
                 "  functions, so I'm aborting your program before it crashes anyway.\n",
                 call);
    std::exit(EXIT_FAILURE);
}

// A pin number the on-board GPIO has no line for: wiringPi would index its
// tables with -1 and write somewhere in the GPIO block; the bench says so and
// leaves the bank alone.
void no_such_pin(const char *call, int pin)
{
    Record("misuse").text("call", call).num("pin", pin).text("reason", "no-such-pin").emit();
    std::fprintf(stderr, "wpisim: %s(%d): ignored: no GPIO has that number on a %s\n", call, pin,
                 this_pi::word().c_str());
}

// The GPIO an on-board pin number names, or -1: for a number wiringPi gives
// to extension nodes (64 and up), for one the numbering leaves unmapped,
// after saying so, and for a GPIO this Pi has not: the BCM's registers have
// room for 64, the rest reserved, so the library's write goes nowhere; the
// GPIO character device has no such line and says so.
int on_board(const char *call, int pin)
{
    if ((pin & ~63) != 0)
        return -1;
    const int gpio = to_gpio(pin);
    if (gpio < 0) {
        no_such_pin(call, pin);
        return -1;
    }
    if (gpio >= this_pi::gpio_lines()) {
        if (chosen == numbering_device_bcm || chosen == numbering_device_wpi ||
            chosen == numbering_device_phys)
            std::fprintf(stderr,
                         "wiringPi: ERROR: ioctl get line handle of %d (RequestLine) returned "
                         "error 'Invalid argument' (-1)\n",
                         gpio);
        return -1;
    }
    return gpio;
}

Pin &pin_of(int gpio)
{
    return shared->pins[gpio];
}

// An edge the program made itself reaches its own interrupt functions as an
// outside one does: in virtual time, at the time it was made.
void made(bool edge, int gpio)
{
    tell_board(gpio);
    if (edge)
        edge_made(gpio);
}

// wiringPi's soft PWM and tone keep their state by the program's pin number;
// the bench has no thread toggling the pin: the bank holds the wave, and a
// read computes the level from the bench clock.
constexpr int soft_pins = 64;
int soft_ranges[soft_pins];
bool soft_tones[soft_pins];

// The library's own wait for its new thread to start.
constexpr std::int64_t thread_start_ns = 1000000;

void show_soft(int pin, std::uint32_t value, std::uint32_t range)
{
    const int gpio = (pin & ~63) != 0 ? -1 : to_gpio(pin);
    if (gpio < 0 || gpio >= gpio_count)
        return;
    Pin &p = pin_of(gpio);
    p.soft_value.store(value);
    p.soft_range.store(range);
    p.soft_pid.store(getpid());
    trace_pins();
}

void hide_soft(int pin)
{
    const int gpio = (pin & ~63) != 0 ? -1 : to_gpio(pin);
    if (gpio >= 0 && gpio < gpio_count)
        pin_of(gpio).soft_pid.store(0);
    trace_pins();
}

// After a memory set-up that failed the library has no registers mapped, and
// its first pin call writes through a null pointer.
[[noreturn]] void no_registers(const char *call, int pin)
{
    Record("misuse").text("call", call).num("pin", pin).text("reason", "no-registers").emit();
    std::fprintf(stderr,
                 "wpisim: %s(%d): no GPIO registers: wiringPi 3.14 writes through the map a "
                 "failed or missing set-up left empty, and the program dies of SIGSEGV\n",
                 call, pin);
    std::fflush(stderr);
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
    std::_Exit(128 + SIGSEGV); // cppcheck-suppress unreachableCode ; a blocked SIGSEGV returns
}

void need_registers(const char *call, int pin)
{
    if (shared == nullptr)
        no_registers(call, pin);
}

// The GPIO character device's line requests, as this process made them: the
// device numberings reach pins through these, requested on first use.
enum : unsigned { line_input = 1, line_output = 2, bias_up = 32, bias_down = 64, bias_off = 128 };
struct Line {
    bool requested = false;
    unsigned flags = 0;
};
Line lines[64];

void request_line(int gpio, unsigned direction)
{
    Line &l = lines[gpio];
    l.flags = (l.flags & ~(line_input | line_output)) | direction;
    l.requested = true;
    const int pull = (l.flags & bias_up) != 0     ? pull_up
                     : (l.flags & bias_down) != 0 ? pull_down
                     : (l.flags & bias_off) != 0  ? pull_off
                                                  : -1;
    made(settle(*shared, gpio, bench_now_ns(), direction == line_output ? fn_output : fn_input,
                pull, -1),
         gpio);
    trace_pins();
}

} // namespace

Bank &pins_bank(const char *call)
{
    // Mapped once; later calls, an interrupt's thread's as the program exits
    // among them, touch nothing else.
    static Bank &mapped = [call]() -> Bank & {
        std::uint8_t pulls[gpio_count];
        for (int g = 0; g < gpio_count; ++g)
            pulls[g] = static_cast<std::uint8_t>(this_pi::reset_pull(g));
        return bank(call, pulls);
    }();
    return mapped;
}

int setup(Numbering numbering, int fault, const char *call)
{
    // As the library's flag: a second set-up does nothing.
    if (chosen != numbering_none)
        return 0;
    const int caller_errno = errno;
    const bool device = numbering == numbering_device_bcm || numbering == numbering_device_wpi ||
                        numbering == numbering_device_phys;
    const std::string where = state_dir_path();
    if (fault == 0)
        shared = &pins_bank(call);
    Record("gpio-setup")
        .text("state_dir", where)
        .num("numbering", numbering)
        .num("result", fault == 0 ? 0 : -1)
        .num("errno", fault)
        .emit();
    if (fault != 0 && device) {
        // The GPIO chip would not open: not set up.
        std::fprintf(stderr, "wiringPi: ERROR: /dev/gpiochip0 open ret=-1\n");
        errno = fault;
        return -1;
    }
    // A memory set-up counts as done before it opens anything, so a failed
    // one is a set-up too, without registers.
    chosen = numbering;
    epoch = bench_now_ns();
    // A trace opened here begins at the epoch, the time millis() and
    // scheduled drives count from, however long opening it takes.
    if (fault == 0)
        trace_setup(*shared, epoch);
    if (fault != 0) {
        errno = fault;
        const int result = pi::library_failure(
            WPI_ALMOST,
            "wiringPiSetup: Unable to open %s or %s: %s.\n"
            "  Aborting your program because if it can not access the GPIO\n"
            "  hardware then it most certianly won't work\n"
            "  Try running with sudo?\n",
            "/dev/mem", this_pi::rp1() ? "/dev/gpiomem0" : "/dev/gpiomem", std::strerror(fault));
        errno = fault;
        return result;
    }
    errno = caller_errno;
    return 0;
}

void set_numbering(Numbering n)
{
    chosen = n;
}

Numbering numbering()
{
    return chosen;
}

bool set_up()
{
    return chosen != numbering_none;
}

std::int64_t epoch_ns()
{
    return epoch;
}

int to_gpio(int pin)
{
    switch (chosen) {
    case numbering_wpi:
    case numbering_device_wpi:
        return this_pi::wpi_to_gpio(pin);
    case numbering_phys:
    case numbering_device_phys:
        return this_pi::phys_to_gpio(pin);
    case numbering_bcm:
    case numbering_device_bcm:
        return pin >= 0 && pin < 64 ? pin : -1;
    default:
        return -1;
    }
}

int max_pin()
{
    return this_pi::rp1() ? 27 : 63;
}

int level_at(int gpio, std::int64_t now_ns)
{
    return level_of(*shared, gpio, now_ns);
}

int level_of(const Bank &b, int gpio, std::int64_t now_ns)
{
    return shape_of(b, gpio).level_at(now_ns);
}

PinShape shape_of(const Bank &b, int gpio)
{
    const Pin &p = b.pins[gpio];
    const int fn = p.function.load(std::memory_order_relaxed);
    const std::uint32_t soft_range = p.soft_range.load(std::memory_order_relaxed);
    const std::int32_t soft_pid = p.soft_pid.load(std::memory_order_relaxed);
    // A soft PWM or tone is its program's thread: it ends with the program,
    // leaving the pin at its latch.
    const bool soft_runs =
        soft_pid != 0 && (soft_pid == getpid() || kill(soft_pid, 0) == 0 || errno == EPERM);
    if (fn == fn_output && soft_runs) {
        // A soft PWM makes 100 us steps; a soft tone a square wave.
        const std::uint32_t value = p.soft_value.load(std::memory_order_relaxed);
        if (soft_range != 0)
            return PinShape::wave(soft_range * 100000.0, value * 100000.0);
        if (value != 0) {
            const std::int64_t half = 500000000 / value;
            return PinShape::wave(2.0 * static_cast<double>(half), static_cast<double>(half));
        }
        return PinShape::steady(p.latch.load(std::memory_order_relaxed));
    }
    const int channel = this_pi::pwm_channel(gpio);
    if (fn != fn_input && fn != fn_output && channel >= 0 && fn == this_pi::pwm_function(gpio)) {
        const Wave w = pwm_wave(b.pwm[channel], this_pi::pwm_clock_hz(b.clock_divisor));
        if (w.hz <= 0)
            return PinShape::steady(w.duty >= 1 ? 1 : 0);
        return PinShape::wave(1e9 / w.hz, w.duty * 1e9 / w.hz);
    }
    return PinShape::steady(settled_level(fn, p.latch.load(std::memory_order_relaxed),
                                          p.pull.load(std::memory_order_relaxed),
                                          p.drive.load(std::memory_order_relaxed)));
}

namespace
{

// A pin made a plain input or output, as pinMode makes it: any soft PWM or
// tone on it stops first, but through the GPIO character device.
void plain_mode(int pin, int gpio, int function)
{
    bench_spend(register_ns);
    if (device_numbering()) {
        request_line(gpio, function == fn_output ? line_output : line_input);
        return;
    }
    soft_pwm_stop(pin);
    soft_tone_stop(pin);
    made(settle(*shared, gpio, bench_now_ns(), function, -1, -1), gpio);
    trace_pins();
}

void pwm_output(int pin, int gpio, int mode)
{
    soft_pwm_stop(pin);
    soft_tone_stop(pin);
    // A pin without a PWM channel is left as it was, without a word.
    const int function = this_pi::pwm_function(gpio);
    if (function < 0)
        return;
    made(settle(*shared, gpio, bench_now_ns(), function, -1, -1), gpio);
    trace_pins();
    bench_spend(pwm_function_wait_ns);
    // The RP1 runs mark:space only, and the library does not ask it otherwise.
    if (!this_pi::rp1())
        pwm_set_mode(mode == PWM_MS_OUTPUT || mode == PWM_TONE_OUTPUT ? PWM_MODE_MS : PWM_MODE_BAL);
    if (mode == PWM_OUTPUT || mode == PWM_TONE_OUTPUT) {
        pwm_set_range(1024);
        pwm_set_clock(32);
    }
    if (mode == PWM_TONE_OUTPUT)
        pwm_set_mode(PWM_MODE_MS);
}

// pinMode(pin, OUTPUT) as the soft PWM and tone make it.
void output_mode(int pin)
{
    Record("pin-mode").num("pin", pin).num("mode", OUTPUT).emit();
    setup_check("pinMode");
    const int gpio = on_board("pinMode", pin);
    if (gpio < 0)
        return;
    need_registers("pinMode", pin);
    plain_mode(pin, gpio, fn_output);
}

} // namespace

void set_mode(int pin, int mode)
{
    Record("pin-mode").num("pin", pin).num("mode", mode).emit();
    setup_check("pinMode");
    if ((pin & ~63) != 0) {
        if (wiringPiNodeStruct *node = find_node(pin))
            node->pinMode(node, pin, mode);
        return;
    }
    const int gpio = on_board("pinMode", pin);
    if (gpio < 0)
        return;
    if (device_numbering()) {
        if (mode == PM_OFF) {
            // Released: an input again, its request and flags gone.
            request_line(gpio, line_input);
            lines[gpio] = Line{};
        } else if (mode == INPUT || mode == OUTPUT) {
            plain_mode(pin, gpio, mode == OUTPUT ? fn_output : fn_input);
        } else {
            std::fprintf(stderr,
                         "pinMode: invalid mode request (only input und output supported)\n");
        }
        return;
    }
    need_registers("pinMode", pin);
    // Whatever the mode, a soft PWM or tone on the pin stops first.
    soft_pwm_stop(pin);
    soft_tone_stop(pin);
    switch (mode) {
    case INPUT:
    case PM_OFF:
        plain_mode(pin, gpio, fn_input);
        if (mode == PM_OFF && this_pi::pwm_channel(gpio) >= 0)
            pwm_write(pin, 0);
        return;
    case OUTPUT:
        plain_mode(pin, gpio, fn_output);
        return;
    case SOFT_PWM_OUTPUT:
        soft_pwm_create(pin, 0, 100);
        return;
    case SOFT_TONE_OUTPUT:
        soft_tone_create(pin);
        return;
    case PWM_OUTPUT:
    case PWM_MS_OUTPUT:
    case PWM_BAL_OUTPUT:
    case PWM_TONE_OUTPUT:
        pwm_output(pin, gpio, mode);
        return;
    default:
        // GPIO_CLOCK among them: no clock generator on the bench, and the
        // library leaves a pin it cannot use so as it was.
        return;
    }
}

void write(int pin, int value)
{
    Record("digital-write").num("pin", pin).num("value", value).emit();
    if ((pin & ~63) != 0) {
        if (wiringPiNodeStruct *node = find_node(pin))
            node->digitalWrite(node, pin, value);
        return;
    }
    if (chosen == numbering_none) {
        std::fprintf(stderr, "digitalWrite: invalid mode\n");
        return;
    }
    const int gpio = on_board("digitalWrite", pin);
    if (gpio < 0)
        return;
    if (device_numbering()) {
        // A line not yet requested is requested as an output; one requested
        // as an input takes no value.
        if (!lines[gpio].requested)
            request_line(gpio, line_output);
        if ((lines[gpio].flags & line_output) == 0) {
            std::fprintf(stderr, "digitalWrite: no output (%u)\n", lines[gpio].flags);
            return;
        }
    }
    need_registers("digitalWrite", pin);
    made(write_latch(*shared, gpio, value == LOW ? 0 : 1), gpio);
    trace_pins();
    bench_spend(register_ns);
}

int read(int pin)
{
    if ((pin & ~63) != 0) {
        wiringPiNodeStruct *node = find_node(pin);
        return node != nullptr ? node->digitalRead(node, pin) : LOW;
    }
    if (chosen == numbering_none) {
        std::fprintf(stderr, "digitalRead: invalid mode\n");
        return LOW;
    }
    const int gpio = on_board("digitalRead", pin);
    if (gpio < 0)
        return LOW;
    // Through the GPIO character device a line is requested, as an input, on
    // its first read.
    if (device_numbering() && !lines[gpio].requested)
        request_line(gpio, line_input);
    need_registers("digitalRead", pin);
    bench_spend(register_ns);
    // In wall time a drive scheduled for now or before reaches the pin here.
    if (!virtual_time())
        catch_up();
    if (wired(gpio))
        board_to_now();
    const int level = level_at(gpio, bench_now_ns());
    Record("digital-read").num("pin", pin).num("value", level).emit();
    return level;
}

void set_pull(int pin, int pud)
{
    Record("pull").num("pin", pin).num("pud", pud).emit();
    setup_check("pullUpDnControl");
    if ((pin & ~63) != 0) {
        if (wiringPiNodeStruct *node = find_node(pin))
            node->pullUpDnControl(node, pin, pud);
        return;
    }
    const int gpio = on_board("pullUpDnControl", pin);
    if (gpio < 0)
        return;
    // The BCM283x's sequence writes pud & 3, and 3 is a reserved code that
    // changes nothing; the others take only the three values.
    if (this_pi::legacy_pull() && !device_numbering())
        pud &= 3;
    if (pud < PUD_OFF || pud > PUD_UP)
        return;
    if (device_numbering()) {
        Line &l = lines[gpio];
        l.flags = (l.flags & ~(bias_up | bias_down | bias_off)) | (pud == PUD_UP     ? bias_up
                                                                   : pud == PUD_DOWN ? bias_down
                                                                                     : bias_off);
        if (l.requested)
            request_line(gpio, l.flags & (line_input | line_output));
        return;
    }
    need_registers("pullUpDnControl", pin);
    bench_spend(this_pi::legacy_pull() ? legacy_pull_ns : register_ns);
    made(settle(*shared, gpio, bench_now_ns(), -1, pud, -1), gpio);
    trace_pins();
}

int alt(int pin)
{
    // The library reads the function register of pin & 63 in its numbering;
    // through the GPIO character device it has none, and answers 0.
    if (chosen != numbering_wpi && chosen != numbering_bcm && chosen != numbering_phys)
        return 0;
    const int gpio = to_gpio(pin & 63);
    if (gpio < 0 || gpio >= this_pi::gpio_lines())
        return 0;
    need_registers("getAlt", pin);
    bench_spend(register_ns);
    return pin_of(gpio).function.load(std::memory_order_relaxed);
}

void set_alt(int pin, int mode)
{
    setup_check("pinModeAlt");
    const int gpio = on_board("pinModeAlt", pin);
    if (gpio < 0 || device_numbering())
        return;
    need_registers("pinModeAlt", pin);
    bench_spend(register_ns);
    made(settle(*shared, gpio, bench_now_ns(), mode & 7, -1, -1), gpio);
    trace_pins();
}

void pwm_write(int pin, int value)
{
    Record("pwm-write").num("pin", pin).num("value", value).emit();
    setup_check("pwmWrite");
    if ((pin & ~63) != 0) {
        if (wiringPiNodeStruct *node = find_node(pin))
            node->pwmWrite(node, pin, value);
        return;
    }
    if (device_numbering())
        return;
    const int gpio = on_board("pwmWrite", pin);
    if (gpio < 0)
        return;
    need_registers("pwmWrite", pin);
    const int target = this_pi::pwm_write_target(gpio);
    if (target == this_pi::no_pwm_channel) {
        std::fprintf(stderr, "pwmWrite: invalid channel at GPIO pin %d \n", gpio);
        return;
    }
    bench_spend(register_ns);
    // On the BCM chips a GPIO without a channel writes the PWM's control
    // register, which the bench does not model.
    if (target >= 0)
        shared->pwm[target].data.store(static_cast<std::uint32_t>(value));
    trace_pins();
}

void pwm_set_mode(int mode)
{
    if (chosen != numbering_wpi && chosen != numbering_bcm && chosen != numbering_phys)
        return;
    if (this_pi::rp1()) {
        if (mode != PWM_MODE_MS)
            std::fprintf(stderr, "pwmSetMode: Raspberry Pi 5 missing feature PWM BAL mode\n");
        return;
    }
    need_registers("pwmSetMode", mode);
    bench_spend(register_ns);
    for (PwmChannel &c : shared->pwm)
        c.mark_space.store(mode == PWM_MODE_MS ? 1 : 0);
    trace_pins();
}

void pwm_set_range(unsigned range)
{
    if (chosen != numbering_wpi && chosen != numbering_bcm && chosen != numbering_phys)
        return;
    if (shared == nullptr) {
        std::fprintf(stderr, "wiringPi: pwmSetRange but no pwm memory available, ignoring\n");
        return;
    }
    bench_spend(pwm_range_wait_ns);
    for (PwmChannel &c : shared->pwm)
        c.range.store(range);
    trace_pins();
}

void pwm_set_clock(int divisor)
{
    // Only a memory set-up maps the clock manager.
    if (shared == nullptr ||
        (chosen != numbering_wpi && chosen != numbering_bcm && chosen != numbering_phys)) {
        std::fprintf(stderr, "wiringPi: pwmSetClock but no clk memory available, ignoring\n");
        return;
    }
    bench_spend(pwm_clock_wait_ns);
    shared->clock_divisor.store(static_cast<std::uint32_t>(
        this_pi::pwm_divisor(divisor, static_cast<int>(shared->clock_divisor.load()))));
    trace_pins();
}

void clock_set(int pin, int hz)
{
    Record("gpio-clock").num("pin", pin).num("hz", hz).emit();
    // No clock generator on the bench; the Pi 5 has none the library drives.
    if (this_pi::rp1())
        pi::library_failure(WPI_ALMOST,
                            "Function '%s' not supported on Raspberry Pi 5.\n"
                            "  Unable to continue. Keep an eye of new versions at "
                            "https://github.com/wiringpi/wiringpi\n",
                            "gpioClockSet");
}

int soft_pwm_create(int pin, int value, int range)
{
    Record("soft-pwm-create").num("pin", pin).num("value", value).num("range", range).emit();
    if (pin < 0 || pin >= soft_pins || soft_ranges[pin] != 0 || range <= 0)
        return -1;
    write(pin, LOW);
    output_mode(pin);
    soft_ranges[pin] = range;
    show_soft(pin, static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(range));
    bench_spend(thread_start_ns);
    return 0;
}

void soft_pwm_write(int pin, int value)
{
    if (pin < 0 || pin >= soft_pins)
        return;
    if (value < 0)
        value = 0;
    else if (value > soft_ranges[pin])
        value = soft_ranges[pin];
    Record("soft-pwm-write").num("pin", pin).num("value", value).emit();
    if (soft_ranges[pin] != 0)
        show_soft(pin, static_cast<std::uint32_t>(value),
                  static_cast<std::uint32_t>(soft_ranges[pin]));
}

void soft_pwm_stop(int pin)
{
    if (pin < 0 || pin >= soft_pins || soft_ranges[pin] == 0)
        return;
    soft_ranges[pin] = 0;
    hide_soft(pin);
    write(pin, LOW);
}

int soft_tone_create(int pin)
{
    Record("soft-tone-create").num("pin", pin).emit();
    output_mode(pin);
    write(pin, LOW);
    if (pin < 0 || pin >= soft_pins || soft_tones[pin])
        return -1;
    soft_tones[pin] = true;
    show_soft(pin, 0, 0);
    bench_spend(thread_start_ns);
    return 0;
}

void soft_tone_write(int pin, int hz)
{
    pin &= 63;
    hz = hz < 0 ? 0 : hz > 5000 ? 5000 : hz;
    Record("soft-tone-write").num("pin", pin).num("hz", hz).emit();
    if (soft_tones[pin])
        show_soft(pin, static_cast<std::uint32_t>(hz), 0);
}

void soft_tone_stop(int pin)
{
    if (pin < 0 || pin >= soft_pins || !soft_tones[pin])
        return;
    soft_tones[pin] = false;
    hide_soft(pin);
    write(pin, LOW);
}

namespace
{

// The byte calls have no Pi 5 version: the library stops, or fails.
bool byte_calls_refused(const char *call)
{
    if (!this_pi::rp1())
        return false;
    pi::library_failure(WPI_ALMOST,
                        "Function '%s' not supported on Raspberry Pi 5.\n"
                        "  Unable to continue. Keep an eye of new versions at "
                        "https://github.com/wiringpi/wiringpi\n",
                        call);
    return true;
}

} // namespace

void write_byte(int value, bool second)
{
    Record("write-byte").num("value", value).num("second", second ? 1 : 0).emit();
    if (byte_calls_refused(second ? "digitalWriteByte2" : "digitalWriteByte"))
        return;
    if (device_numbering() || shared == nullptr)
        no_registers(second ? "digitalWriteByte2" : "digitalWriteByte", value);
    // wiringPi pins 0 to 7, bit 0 first; the second byte GPIO 20 to 27.
    for (int bit = 0; bit < 8; ++bit) {
        const int gpio = second ? 20 + bit : this_pi::wpi_to_gpio(bit);
        if (gpio >= 0 && gpio < gpio_count)
            made(write_latch(*shared, gpio, ((value >> bit) & 1) != 0 ? 1 : 0), gpio);
    }
    trace_pins();
    bench_spend(2 * register_ns);
}

unsigned read_byte(bool second)
{
    if (byte_calls_refused(second ? "digitalReadByte2" : "digitalReadByte"))
        return 0;
    if (device_numbering() || shared == nullptr)
        no_registers(second ? "digitalReadByte2" : "digitalReadByte", 0);
    if (!virtual_time())
        catch_up();
    bench_spend(register_ns);
    const std::int64_t now = bench_now_ns();
    unsigned data = 0;
    // wiringPi pin 0 lands in bit 7, as the library shifts; GPIO 20 in bit 0.
    for (int bit = 0; bit < 8; ++bit) {
        const int gpio = second ? 27 - bit : this_pi::wpi_to_gpio(bit);
        data = (data << 1) | (gpio >= 0 && gpio < gpio_count ? level_at(gpio, now) : 0);
    }
    return data;
}

int analog_read(int pin)
{
    wiringPiNodeStruct *node = find_node(pin);
    return node != nullptr ? node->analogRead(node, pin) : 0;
}

void analog_write(int pin, int value)
{
    if (wiringPiNodeStruct *node = find_node(pin))
        node->analogWrite(node, pin, value);
}

void pwm_tone_write(int pin, int hz)
{
    setup_check("pwmToneWrite");
    if (hz == 0) {
        pwm_write(pin, 0);
        return;
    }
    pwm_set_range(static_cast<unsigned>(600000 / hz));
    pwm_write(pin, hz / 2);
}

} // namespace wpisim::gpio
