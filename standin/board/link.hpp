// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The link between a run and the board process: messages on a unix socket in
// the state directory, each a header and a payload. Every wait on it has a
// time limit, so a stopped board or a stuck peer never hangs the other side.

#include <cstddef>
#include <cstdint>
#include <string>

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
    hello = 1,    // HelloRequest, then the firmware's path
    exchange = 2, // ExchangeRequest, then the bytes sent
    status = 3,   // nothing
    hello_answer = 101,
    exchange_answer = 102,
    status_answer = 103,
    working = 104,   // nothing: the board is still running the AVR towards the answer
    log_lines = 105, // call log lines of the board's that concern this run, before its answer
};

// A board process silent this long is stuck: it answers in microseconds, and
// this leaves room for a loaded machine or an emulator. One that is working
// says so every working_every_ns, however long a simulated gap takes to run.
constexpr std::int64_t silence_limit_ns = 5000000000;
constexpr std::int64_t working_every_ns = 1000000000;

struct Header {
    std::uint32_t kind = 0;
    std::uint32_t size = 0; // of the payload that follows
};

struct HelloRequest {
    std::uint8_t fresh = 0;        // a reset board is asked for
    std::uint8_t virtual_time = 0; // the run's times are on the virtual clock, or any_time
    std::uint8_t pad[6] = {};
    std::uint64_t firmware = 0; // content_id of the firmware wanted, with its board kind
    std::int64_t now_ns = 0;    // the run's time now
    char board[16] = {};        // the kind of board, NUL-terminated
};

// A hello from a command that only resets the board and makes no transfer:
// it fits a board on either clock.
constexpr std::uint8_t any_time = 2;

// Followed by the reason when the board cannot serve the run.
struct HelloAnswer {
    std::int32_t ok = 0;
    std::int32_t pid = 0;
    std::int32_t reset = 0;      // this hello reset the board or put other firmware on it
    std::int32_t about_time = 0; // not ok for the run's time, not for its firmware
};

struct ExchangeRequest {
    std::int32_t len = 0;
    std::int32_t pad = 0;
    std::int64_t start_ns = 0; // when the Pi starts the transfer, monotonic
    std::int64_t bit_ns = 0;
};

// Followed by the bytes clocked back.
struct ExchangeAnswer {
    BoardReport report;
    std::int64_t start_ns = 0; // when the transfer really began: later if the bus was busy
};

// Followed by the firmware's path.
struct StatusAnswer {
    BoardReport report;
    std::int32_t pid = 0;
    std::int32_t virtual_time = 0;
    char board[16] = {};
};

// Far above any transfer a program makes, and a path.
constexpr std::uint32_t max_payload = 1U << 17;

// Sends header and payload whole by the monotonic deadline. False on a time
// out, a closed peer or an error; why says which.
bool send_message(int fd, Kind kind, const void *head, std::size_t head_size, const void *tail,
                  std::size_t tail_size, std::int64_t deadline_ns, std::string *why);

// Reads the answer to a request by the deadline; each "working" on the way
// moves the deadline to silence_limit_ns from then, and the board's log
// lines on the way go to this run's log.
bool read_answer(int fd, Header *header, std::string *payload, std::int64_t deadline_ns,
                 std::string *why);

// Identifies a firmware on a kind of board by its bytes, whatever path names it.
std::uint64_t content_id(const std::string &bytes, const std::string &board);

} // namespace wpisim::link
