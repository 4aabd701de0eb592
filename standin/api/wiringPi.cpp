// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The library's calls, as a program links them: each hands over to the part
// of the stand-in that plays that piece of the Pi.

#include "bench_clock.hpp"
#include "call_faults.hpp"
#include "event_log.hpp"
#include "interrupts.hpp"
#include "nodes.hpp"
#include "pi_session.hpp"
#include "pins.hpp"
#include "run_wires.hpp"

#include <wiringPi.h>

#include <cerrno>
#include <cstdint>
#include <pthread.h>

namespace
{

namespace gpio = wpisim::gpio;

// clock_gettime through the vDSO on a Pi.
constexpr std::int64_t clock_read_ns = 150;

// wiringPiSetup's work, which wiringPiSetupGpio and wiringPiSetupPhys begin with.
int memory_set_up()
{
    if (gpio::set_up())
        return 0;
    // As 3.14: WIRINGPI_CODES is read, the board read and the pin tables
    // chosen before anything can fail.
    wpisim::pi::read_return_codes();
    wpisim::pi::install_pin_tables();
    const int result =
        gpio::setup(gpio::numbering_wpi, wpisim::gpio_setup_fault(), "wiringPiSetup");
    if (result == 0) {
        gpio::start_schedule();
        wpisim::wire_run_to_board();
    }
    return result;
}

// Time on the bench clock since set-up, as the library counts it; before
// set-up, since the clock began.
std::int64_t since_setup_ns()
{
    wpisim::bench_spend(clock_read_ns);
    if (!wpisim::virtual_time())
        gpio::catch_up();
    return wpisim::bench_now_ns() - gpio::epoch_ns();
}

pthread_mutex_t locks[4] = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
                            PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER};

} // namespace

extern "C" int wiringPiSetup(void)
{
    return memory_set_up();
}

// These two always answer 0: a failure is wiringPiSetup's to report.
extern "C" int wiringPiSetupGpio(void)
{
    (void)memory_set_up();
    gpio::set_numbering(gpio::numbering_bcm);
    return 0;
}

extern "C" int wiringPiSetupPhys(void)
{
    (void)memory_set_up();
    gpio::set_numbering(gpio::numbering_phys);
    return 0;
}

extern "C" int wiringPiSetupPinType(enum WPIPinType pinType)
{
    switch (pinType) {
    case WPI_PIN_BCM:
        return wiringPiSetupGpio();
    case WPI_PIN_WPI:
        return wiringPiSetup();
    case WPI_PIN_PHYS:
        return wiringPiSetupPhys();
    default:
        return -1;
    }
}

extern "C" int wiringPiSetupGpioDevice(enum WPIPinType pinType)
{
    if (gpio::set_up())
        return 0;
    // As 3.14: the GPIO chip opens first, then the tables are chosen, and
    // only then is the kind of numbering looked at.
    wpisim::pi::read_return_codes();
    const int fault = wpisim::gpio_setup_fault();
    if (fault != 0)
        return gpio::setup(gpio::numbering_device_bcm, fault, "wiringPiSetupGpioDevice");
    wpisim::pi::install_pin_tables();
    gpio::Numbering numbering = gpio::numbering_none;
    switch (pinType) {
    case WPI_PIN_BCM:
        numbering = gpio::numbering_device_bcm;
        break;
    case WPI_PIN_WPI:
        numbering = gpio::numbering_device_wpi;
        break;
    case WPI_PIN_PHYS:
        numbering = gpio::numbering_device_phys;
        break;
    default:
        return -1;
    }
    const int result = gpio::setup(numbering, 0, "wiringPiSetupGpioDevice");
    if (result == 0) {
        gpio::start_schedule();
        wpisim::wire_run_to_board();
    }
    return result;
}

extern "C" int wiringPiSetupSys(void)
{
    if (gpio::set_up())
        return 0;
    return wiringPiSetupGpioDevice(WPI_PIN_BCM);
}

extern "C" void pinMode(int pin, int mode)
{
    gpio::set_mode(pin, mode);
}

extern "C" void pinModeAlt(int pin, int mode)
{
    gpio::set_alt(pin, mode);
}

extern "C" int getAlt(int pin)
{
    return gpio::alt(pin);
}

extern "C" void digitalWrite(int pin, int value)
{
    gpio::write(pin, value);
}

extern "C" int digitalRead(int pin)
{
    return gpio::read(pin);
}

extern "C" void pullUpDnControl(int pin, int pud)
{
    gpio::set_pull(pin, pud);
}

extern "C" void pwmWrite(int pin, int value)
{
    gpio::pwm_write(pin, value);
}

extern "C" void pwmSetMode(int mode)
{
    gpio::pwm_set_mode(mode);
}

extern "C" void pwmSetRange(unsigned int range)
{
    gpio::pwm_set_range(range);
}

extern "C" void pwmSetClock(int divisor)
{
    gpio::pwm_set_clock(divisor);
}

extern "C" int wiringPiISR(int pin, int mode, void (*function)())
{
    return gpio::isr(pin, mode, function);
}

extern "C" int waitForInterrupt(int pin, int mS)
{
    return gpio::wait_for_interrupt(pin, mS);
}

extern "C" int wiringPiISRStop(int pin)
{
    return gpio::isr_stop(pin);
}

extern "C" int waitForInterruptClose(int pin)
{
    return gpio::isr_stop(pin);
}

extern "C" void delay(unsigned int howLong)
{
    const std::int64_t start = wpisim::bench_now_ns();
    // Absolute deadline: an interrupted sleep never ends early.
    wpisim::bench_wait_until(start + static_cast<std::int64_t>(howLong) * 1000000);
    // In wall time a drive scheduled within the wait reaches the pin at its end.
    if (!wpisim::virtual_time())
        gpio::catch_up();
    wpisim::Record("delay")
        .num("ms", howLong)
        .num("start_ns", start)
        .num("end_ns", wpisim::bench_now_ns())
        .emit();
}

extern "C" void delayMicroseconds(unsigned int howLong)
{
    // Under 100 us the library spins on the clock, above it sleeps: either way
    // the time passes on the bench clock.
    if (howLong == 0)
        return;
    wpisim::bench_wait_until(wpisim::bench_now_ns() + static_cast<std::int64_t>(howLong) * 1000);
}

extern "C" unsigned int millis(void)
{
    return static_cast<unsigned int>(since_setup_ns() / 1000000);
}

extern "C" unsigned int micros(void)
{
    return static_cast<unsigned int>(since_setup_ns() / 1000);
}

extern "C" unsigned long long piMicros64(void)
{
    return static_cast<unsigned long long>(since_setup_ns() / 1000);
}

// The bench never raises the priority of a host process: a program run as
// root would starve the machine it shares. It answers as a Pi run with sudo:
// a priority above the most is the most, and one below 1 is refused.
extern "C" int piHiPri(const int pri)
{
    wpisim::Record("hi-pri").num("priority", pri).emit();
    if (pri < 1) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

extern "C" int piThreadCreate(void *(*fn)(void *))
{
    pthread_t thread;
    const int result = pthread_create(&thread, nullptr, fn, nullptr);
    if (result == 0)
        pthread_detach(thread);
    return result;
}

extern "C" void piLock(int key)
{
    pthread_mutex_lock(&locks[key & 3]);
    gpio::note_user_lock(1);
}

extern "C" void piUnlock(int key)
{
    gpio::note_user_lock(-1);
    pthread_mutex_unlock(&locks[key & 3]);
}

extern "C" void digitalWriteByte(const int value)
{
    gpio::write_byte(value, false);
}

extern "C" void digitalWriteByte2(const int value)
{
    gpio::write_byte(value, true);
}

extern "C" unsigned int digitalReadByte(void)
{
    return gpio::read_byte(false);
}

extern "C" unsigned int digitalReadByte2(void)
{
    return gpio::read_byte(true);
}

extern "C" enum WPIPinAlt getPinModeAlt(int pin)
{
    return static_cast<enum WPIPinAlt>(gpio::alt(pin));
}

extern "C" int analogRead(int pin)
{
    return gpio::analog_read(pin);
}

extern "C" void analogWrite(int pin, int value)
{
    gpio::analog_write(pin, value);
}

extern "C" void pwmToneWrite(int pin, int freq)
{
    gpio::pwm_tone_write(pin, freq);
}

extern "C" struct wiringPiNodeStruct *wiringPiFindNode(int pin)
{
    return gpio::find_node(pin);
}

extern "C" struct wiringPiNodeStruct *wiringPiNewNode(int pinBase, int numPins)
{
    return gpio::new_node(pinBase, numPins);
}

// The bench has no clock generator and no pad drive strength to set: what
// they would change is not on the bench's pins.
extern "C" void gpioClockSet(int pin, int freq)
{
    gpio::clock_set(pin, freq);
}

extern "C" void setPadDrive(int group, int value)
{
    wpisim::Record("pad-drive").num("group", group).num("value", value).emit();
}

extern "C" void setPadDrivePin(int pin, int value)
{
    wpisim::Record("pad-drive").num("pin", pin).num("value", value).emit();
}

// The registers a Pi maps for its programs: there are none on the bench, and a
// program that writes through them stops at once, where on a Pi it would
// quietly change the hardware behind the library's back.
extern "C" {
volatile unsigned int *_wiringPiGpio = nullptr;
volatile unsigned int *_wiringPiPwm = nullptr;
volatile unsigned int *_wiringPiClk = nullptr;
volatile unsigned int *_wiringPiPads = nullptr;
volatile unsigned int *_wiringPiTimer = nullptr;
volatile unsigned int *_wiringPiTimerIrqRaw = nullptr;
}
