// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* wiringPi 3.14's serial header, as the stand-in serves it. Like the
 * library's, it has no include guard: it only declares. */

// NOLINTBEGIN: the library's C declarations, kept as it spells them.

#ifdef __cplusplus
extern "C" {
#endif

extern int serialOpen(const char *device, const int baud);
extern void serialClose(const int fd);
extern void serialFlush(const int fd);
extern void serialPutchar(const int fd, const unsigned char c);
extern void serialPuts(const int fd, const char *s);
extern void serialPrintf(const int fd, const char *message, ...);
extern int serialDataAvail(const int fd);
extern int serialGetchar(const int fd);

#ifdef __cplusplus
}
#endif

// NOLINTEND
