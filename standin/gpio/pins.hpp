// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The Pi's GPIO as wiringPi's calls see it: the numbering set-up chose, what
// each call does with a pin and value, and what it costs a Pi. The state is the
// shared pin bank's; this is one program's view of it.

#include "trace.hpp"

#include <cstdint>

namespace wpisim::gpio
{

// wiringPi's numberings, by its WPI_MODE_* values.
enum Numbering : int {
    numbering_none = -1,
    numbering_wpi = 0,
    numbering_bcm = 1,
    numbering_phys = 3,
    numbering_device_bcm = 5,
    numbering_device_wpi = 6,
    numbering_device_phys = 7,
};

// Set-up: numbering chosen, epoch of millis() and micros() taken. fault: the
// errno a test asked set-up to fail with, or 0; it fails as the library
// fails. A second set-up does nothing, as in wiringPi.
int setup(Numbering numbering, int fault, const char *call);
// wiringPiSetupGpio and wiringPiSetupPhys after their wiringPiSetup.
void set_numbering(Numbering n);
Numbering numbering();
bool set_up();
// The bench time millis() and micros() count from.
std::int64_t epoch_ns();

// The BCM GPIO a pin number names in the numbering chosen, or -1.
int to_gpio(int pin);
// The highest pin wiringPiISR takes.
int max_pin();

void set_mode(int pin, int mode);
void write(int pin, int value);
int read(int pin);
void set_pull(int pin, int pud);
int alt(int pin);
void set_alt(int pin, int mode);

void pwm_write(int pin, int value);
void pwm_set_mode(int mode);
void pwm_set_range(unsigned range);
void pwm_set_clock(int divisor);
// gpioClockSet: the bench has no clock generator.
void clock_set(int pin, int hz);

int soft_pwm_create(int pin, int value, int range);
void soft_pwm_write(int pin, int value);
void soft_pwm_stop(int pin);
int soft_tone_create(int pin);
void soft_tone_write(int pin, int hz);
void soft_tone_stop(int pin);

// digitalWriteByte(2) and digitalReadByte(2).
void write_byte(int value, bool second);
unsigned read_byte(bool second);
// Only extension nodes have analog pins.
int analog_read(int pin);
void analog_write(int pin, int value);
void pwm_tone_write(int pin, int hz);

struct Bank;
// The bank, mapped, with every GPIO's power-on pull for this Pi.
Bank &pins_bank(const char *call);

// The level at a BCM GPIO at now_ns on the bench clock, PWM and soft PWM
// included; level_at for the bank set-up mapped.
int level_of(const Bank &b, int gpio, std::int64_t now_ns);
int level_at(int gpio, std::int64_t now_ns);
// What sets that level: a steady one, or a wave locked to the bench clock.
PinShape shape_of(const Bank &b, int gpio);

} // namespace wpisim::gpio
