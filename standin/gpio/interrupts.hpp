// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// Edges at the Pi's inputs, as a program sees them: wiringPiISR's thread that
// calls a function once per edge, waitForInterrupt, and the drives a test
// scheduled on the bench clock (wpisim pin ... --at), which happen at their
// own time in virtual time and as soon as the program looks in wall time.

namespace wpisim::gpio
{

// At set-up: takes the drives scheduled for this program.
void start_schedule();
// Applies the scheduled drives now due (wall time; virtual time does it as
// the clock passes them).
void catch_up();

int isr(int pin, int mode, void (*function)());
// In virtual time, waits until this program's interrupt functions on the
// GPIO have had the edge the calling thread just made there.
void edge_made(int gpio);
// piLock and piUnlock: +1 and -1 for this thread.
void note_user_lock(int change);
int wait_for_interrupt(int pin, int ms);
int isr_stop(int pin);

} // namespace wpisim::gpio
