// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* wiringPi 3.14's software tone header, as the stand-in serves it: no include
 * guard, as the library's has none; it only declares. */

// NOLINTBEGIN: the library's C declarations, kept as it spells them.

#ifdef __cplusplus
extern "C" {
#endif

extern int softToneCreate(int pin);
extern void softToneStop(int pin);
extern void softToneWrite(int pin, int freq);

#ifdef __cplusplus
}
#endif

// NOLINTEND
