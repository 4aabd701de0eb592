// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The link between the runs and the board process, wpisim-board: the one
// place its messages are built and read, by both ends.
//
// A run connects to the unix socket board.sock in the state directory; the
// board process serves each connection's requests in turn. Every message is
// self-describing: a Header with its kind and the sizes of its two parts,
// then a fixed part (the struct below that the kind names, whose size must
// match exactly) and a tail of bytes. Both ends are one build on one host:
// native byte order, no versions.
//
//   run -> board   fixed part        tail            board -> run      fixed part      tail
//   hello          HelloRequest      firmware path   hello_answer      HelloAnswer     why not
//   exchange       ExchangeRequest   bytes sent      exchange_answer   ExchangeAnswer  bytes back
//   status         none              board's name    status_answer     StatusAnswer    firmware
//   path
//   wires          none              WireEnds each   wires_answer      none            why not
//   pi_pin         PiPin             none            (no answer)
//   sync           SyncRequest       none            sync_answer       SyncAnswer      none
//   serial_sync    SerialSyncRequest none            serial_sync_answer SerialSyncAnswer none
//   i2c            I2cRequest        I2cPart each    i2c_answer        I2cAnswer       bytes read,
//                                    (with bytes)                                      I2cLine each
//   debug          DebugRequest      board's name    debug_answer      DebugAnswer     firmware
//                                                                                      path, or why
//                                                                                      not
//
// A status or a debug needs no hello; the others do. Before an answer the
// board may send, any number of times, working (no parts: still running the
// AVR towards the answer), halted (tail: a line for the run's stderr: the AVR
// the answer needs is held in a debugger), log_lines (tail: call log lines of
// the board's that concern this run) and warning (tail: one line for the
// run's stderr, once a run); all four also reach runs that asked nothing.
//
// The Pi's GPIO wired to the board: a run says which (wires) after its hello;
// each change of what the Pi puts on a wired pin goes as a pi_pin, stamped
// with its time on the run's clock, with no answer, so the board applies it
// at that time however late it reads it. The board puts its own side on the
// Pi's pin bank as an outside drive, at its own time; a sync runs the board
// to a time, or to its first change on a wire the Pi reads, so a read or an
// interrupt sees the board as it is then.
//
// Time limits: the board answers a hello within hello_limit_ns (it may boot
// other firmware), a status within silence_limit_ns, an exchange within its
// time on the wire plus silence_limit_ns; each working sets the limit to
// silence_limit_ns from then, and the board says it every working_every_ns.
// So does each halted: on the virtual clock a run waits as long as a user
// holds the board at a breakpoint; a board process gone still ends the wait.
//
// A front end at the Linux device level (a CUSE /dev/spidev, the GPIO
// character device, a serial tty) would be one more client of the same
// socket: a hello on its clock, then an exchange per SPI_IOC_MESSAGE with
// that transfer's mode, speed and bytes; new devices get kinds of their own.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace wpisim::link
{

// What the simulated board showed after an exchange.
struct BoardReport {
    std::int64_t cycle = 0;
    std::int64_t hz = 0;     // the AVR's clock
    std::int64_t cpu_ns = 0; // host CPU time the exchange cost the board process
    std::int32_t d5 = 0;     // 0..255: PWM duty or plain level
    std::int32_t d6 = 0;
    std::int32_t miso_driven = 0; // while SS was high before the exchange
    std::int32_t wcol = 0;        // SPDR writes that collided
    std::int32_t state = 0;       // one of the values below
    std::uint32_t pc = 0;         // where a stopped firmware stopped
};

enum : std::int32_t { board_running = 0, board_stopped = 1, board_crashed = 2 };

enum Kind : std::uint32_t {
    hello = 1,
    exchange = 2,
    status = 3,
    hello_answer = 101,
    exchange_answer = 102,
    status_answer = 103,
    working = 104,
    log_lines = 105,
    wires = 4,
    pi_pin = 5,
    sync = 6,
    wires_answer = 106,
    sync_answer = 107,
    warning = 108,
    serial_sync = 20,
    serial_sync_answer = 120,
    i2c = 30,
    i2c_answer = 130,
    debug = 40,
    debug_answer = 140,
    halted = 141,
};

constexpr std::int64_t second_ns = 1000000000;
// A board process silent this long is stuck: it answers in microseconds, and
// this leaves room for a loaded machine or an emulator.
constexpr std::int64_t silence_limit_ns = 5 * second_ns;
constexpr std::int64_t working_every_ns = second_ns;
constexpr std::int64_t hello_limit_ns = 10 * second_ns;

struct Header {
    std::uint32_t kind = 0;
    std::uint32_t fixed_size = 0;
    std::uint32_t tail_size = 0;
};

// One hello a board of the run's bench: the bench's first board's starts
// the board process, the others join it there.
struct HelloRequest {
    std::uint8_t fresh = 0;        // a reset board is asked for
    std::uint8_t virtual_time = 0; // the run's times are on the virtual clock, or any_time
    std::uint8_t first = 0;        // the bench's first board: the state files' plain names
    std::uint8_t uart = 0;         // the Pi's UART (GPIO 14/15) goes to its D0/D1
    std::uint8_t usb = 0;          // the Pi's USB serial device is its USB port
    std::uint8_t pad = 0;
    std::int16_t cs = 0;   // the SPI chip select it sits on, or -1
    std::int16_t i2c = -1; // its address on the Pi's I2C bus, or -1
    std::uint8_t pad2[6] = {};
    std::uint64_t firmware = 0; // content_id of the firmware wanted, with its board kind
    std::int64_t now_ns = 0;    // the run's time now
    char board[16] = {};        // the kind of board, NUL-terminated
    char name[16] = {};         // its name on the bench, NUL-terminated
};

// A hello from a command that only resets the board and makes no transfer:
// it fits a board on either clock.
constexpr std::uint8_t any_time = 2;

struct HelloAnswer {
    std::int32_t ok = 0;
    std::int32_t pid = 0;
    std::int32_t reset = 0;      // this hello reset the board or put other firmware on it
    std::int32_t about_time = 0; // not ok for the run's time, not for its firmware
};

struct ExchangeRequest {
    std::int32_t len = 0;      // of the tail
    std::int32_t mode = 0;     // the Pi's SPI mode, 0-3
    std::int64_t start_ns = 0; // when the Pi starts the transfer, on the run's clock
    std::int64_t bit_ns = 0;
    std::int32_t channel = 0; // the chip select driven
    std::int32_t pad = 0;
};

struct ExchangeAnswer {
    BoardReport report;
    std::int64_t start_ns = 0; // when the transfer really began: later if the bus was busy
    std::int32_t answered = 0; // a board sits on the chip select
    std::int32_t pad = 0;
};

// A status asks of the board named in its tail, or the first.
struct StatusAnswer {
    BoardReport report;
    std::int32_t pid = 0;
    std::int32_t virtual_time = 0;
    char board[16] = {};
    char name[16] = {}; // empty: no board has that name
};

// A Pi GPIO joined to a board pin (PORTx bit n).
struct WireEnds {
    std::int32_t gpio = 0;
    char port = 0;
    std::uint8_t bit = 0;
    std::uint8_t divider = 0; // a divider brings a 5 V output down to the Pi's 3.3 V
    std::uint8_t pad = 0;
    char board[16] = {}; // the board's name on the bench, NUL-terminated
};

// What one end puts on a wire: nothing, a pull, or a level it drives.
enum WireSide : std::int32_t {
    side_none = 0,
    side_pull_down = 1,
    side_pull_up = 2,
    side_low = 3,
    side_high = 4,
};

struct PiPin {
    std::int32_t gpio = 0;
    std::int32_t side = 0; // a WireSide
    std::int64_t at_ns = 0;
};

struct SyncRequest {
    std::int64_t until_ns = 0;
    std::int32_t stop_at_change = 0; // at the board's first change on a wire the Pi reads
    std::int32_t pad = 0;
};

struct SyncAnswer {
    std::int64_t reached_ns = 0;
    std::int64_t change_ns = -1; // when it stopped at a change, else -1
};

// The Pi's serial port on the virtual clock, which the board runs only when
// asked: the board takes what the Pi wrote by now_ns (written: how many bytes
// the run's serial calls wrote since its last sync, to wait for), then runs on
// towards until_ns, stopping as the first byte reaches the Pi. In wall time
// the board keeps the port going by itself.
struct SerialSyncRequest {
    std::int64_t now_ns = 0;
    std::int64_t until_ns = 0;
    std::uint64_t written = 0;
    std::int32_t port = 0; // serial_uart (pi.tty) or serial_usb (board.tty)
    std::int32_t pad = 0;
};
enum : std::int32_t { serial_uart = 0, serial_usb = 1 };

struct SerialSyncAnswer {
    std::int64_t reached_ns = 0; // where the board stopped: until_ns, or a byte's arrival
    std::int32_t delivered = 0;  // bytes put into the Pi's port by this request
    std::int32_t open = 0;       // a program has the Pi's port open
};

// One I2C transfer from the Pi, the master: its messages one after another
// with repeated STARTs, then a STOP; each to a 7-bit address.
struct I2cRequest {
    std::int32_t parts = 0;    // I2cPart in the tail, each followed by its bytes if a write
    std::int32_t lines = 0;    // the answer carries the lines' changes, for a trace
    std::int64_t start_ns = 0; // when the Pi starts it, on the run's clock
    std::int64_t bit_ns = 0;   // one SCL period
};

struct I2cPart {
    std::uint16_t address = 0;
    std::uint16_t read = 0;
    std::int32_t len = 0;
};

struct I2cAnswer {
    BoardReport report;
    std::int64_t start_ns = 0; // START, later if the bus was busy
    std::int64_t end_ns = 0;   // STOP, or where the master gave up
    std::int32_t error = 0;    // 0, EREMOTEIO (a NACK) or EIO (SCL held low too long)
    std::int32_t lines = 0;    // I2cLine in the tail, after the bytes read; -1: too many
    std::int32_t done = 0;     // messages complete
    std::int32_t pad = 0;
};

// SDA and SCL from at_ns on.
struct I2cLine {
    std::int64_t at_ns = 0;
    std::uint8_t scl = 1;
    std::uint8_t sda = 1;
    std::uint8_t pad[6] = {};
};

// avr-gdb's way in to a board: simavr's GDB stub, on the loopback interface.
// keep_port: the stub's port as it is, or default_debug_port where none is open.
constexpr std::int32_t keep_port = -1;
constexpr std::int32_t default_debug_port = 1234; // simavr's and avr-gdb's habit
struct DebugRequest {
    std::int32_t port = keep_port; // 0: any free port
    std::int32_t halt = 0;         // nonzero: the AVR stops where it is until avr-gdb lets it go
};

struct DebugAnswer {
    std::int32_t ok = 0;
    std::int32_t port = 0;   // where the stub listens
    std::int32_t halted = 0; // the debugger holds the AVR: at a breakpoint, a step, attaching
    std::int32_t pid = 0;
};

// Far above any transfer a program makes, and a path.
constexpr std::uint32_t max_tail = 1U << 17;
constexpr std::uint32_t max_fixed = 256;

struct Message {
    std::uint32_t kind = 0;
    std::string fixed;
    std::string tail;

    // The fixed part as the struct its kind names; false if the sizes differ.
    template <class Fixed> bool fixed_as(Fixed *out) const
    {
        if (fixed.size() != sizeof(Fixed))
            return false;
        std::memcpy(out, fixed.data(), sizeof(Fixed));
        return true;
    }
};

// A message ready to send.
std::string encode(Kind kind, const void *fixed, std::size_t fixed_size, std::string_view tail);
template <class Fixed> std::string encode(Kind kind, const Fixed &fixed, std::string_view tail = {})
{
    static_assert(std::is_trivially_copyable_v<Fixed>, "a fixed part is a plain struct");
    return encode(kind, &fixed, sizeof fixed, tail);
}
// One with no fixed part.
inline std::string encode_tail(Kind kind, std::string_view tail = {})
{
    return encode(kind, nullptr, 0, tail);
}

// The message at the front of a stream's bytes (into m, unless null): its
// whole size, or 0 while it is not all there yet; false for one no end of
// this build would send.
bool decode_front(std::string_view bytes, Message *m, std::size_t *size);

// The run's side, each by a monotonic deadline. send: the message whole;
// false on a time out, a closed peer or an error, why says which.
bool send(int fd, const std::string &message, std::int64_t deadline_ns, std::string *why);
// The answer to a request. Each working on the way moves the deadline to
// silence_limit_ns from then; log lines go to this run's log.
bool read_answer(int fd, Message *m, std::int64_t deadline_ns, std::string *why);

// Identifies a firmware on a kind of board by its bytes, whatever path names it.
std::uint64_t content_id(const std::string &bytes, const std::string &board);

} // namespace wpisim::link
