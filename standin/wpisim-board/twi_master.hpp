// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include <sim_avr.h>

#include <cstdint>
#include <functional>
#include <vector>

struct avr_twi_t;

namespace wpisim
{

// One message of an I2C transfer: bytes to write, or a buffer to read into.
struct I2cMessage {
    int address = 0;
    bool read = false;
    std::vector<std::uint8_t> data;
};

// A change of the bus's lines, at an AVR cycle.
struct I2cEdge {
    std::uint64_t cycle = 0;
    std::uint8_t scl = 1;
    std::uint8_t sda = 1;
};

struct I2cOutcome {
    int error = 0; // 0, EREMOTEIO for a NACK, EIO when the slave held SCL too long
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    int done = 0; // messages complete
};

// The Pi as I2C master against the AVR's TWI as a slave, bit by bit on the
// AVR's cycles. simavr's TWI module has no bit-level slave, so the slave's
// hardware is played here: its address match (TWAR, TWAMR, TWEA), its status
// codes and TWINT, and SCL held low while TWINT is set.
class TwiMaster
{
  public:
    // step: one instruction of the AVR; running: whether its code still runs.
    TwiMaster(avr_t *avr, std::function<void()> step, std::function<bool()> running);
    TwiMaster(const TwiMaster &) = delete;
    TwiMaster &operator=(const TwiMaster &) = delete;

    // The messages in one transfer (repeated STARTs between them, a
    // STOP at the end or after a NACK), from start_cycle or as soon after as
    // the bus is free. bit_cycles: one SCL period; stretch_limit: how long the
    // master lets the slave hold SCL low. edges, if given, gets every change.
    I2cOutcome transfer(std::vector<I2cMessage> &messages, std::uint64_t start_cycle,
                        double bit_cycles, std::uint64_t stretch_limit,
                        std::vector<I2cEdge> *edges);

  private:
    enum class Mode { idle, address, receiving, sending, sent_last, ignoring };

    bool bus_free(double &t, I2cOutcome &out);
    int message(I2cMessage &m, bool repeated);
    int byte(std::uint8_t sent, bool reading, bool last, std::uint8_t *got);
    int finish(int error);
    bool run_until(std::uint64_t cycle, bool until_released);
    void run_to(double t);
    bool rise(double planned, double &at);
    void fall(double t, int bit);
    void master_sda(double t, int level);
    void line_changed(double t);
    void start_condition(double t);
    void stop_condition();
    void sample(int bit, int sda);
    bool acks();
    void after_ack();
    void prepare(int bit);
    void interrupt(std::uint8_t status);
    std::uint8_t twcr() const;
    static void on_twcr(avr_irq_t *irq, std::uint32_t value, void *param);
    static avr_cycle_count_t on_timer(avr_t *avr, avr_cycle_count_t when, void *param);

    avr_t *avr_;
    avr_twi_t *twi_ = nullptr;
    std::function<void()> step_;
    std::function<bool()> running_;
    double half_ = 0;
    double quarter_ = 0;
    std::uint64_t stretch_limit_ = 0;
    std::vector<I2cEdge> *edges_ = nullptr;
    double free_at_ = 0; // the bus is free from here
    double low_ = 0;     // where SCL last fell
    double end_ = 0;     // the transfer's STOP, or where the master gave up
    // The lines: each end's side of SDA, and SCL as the master drives it.
    int scl_ = 1;
    int master_sda_ = 1;
    int slave_sda_ = 1;
    int last_scl_ = 1;
    int last_sda_ = 1;
    // The slave.
    Mode mode_ = Mode::idle;
    Mode addressed_as_ = Mode::idle;
    bool general_ = false;
    std::uint8_t shift_ = 0;
    bool ack_ = false;        // the slave's ACK of the byte in
    bool master_ack_ = false; // the master's of the byte out
    bool last_byte_ = false;  // TWEA was 0 as the byte out was loaded
    int pending_bit_ = -1;    // a bit to put on SDA once SCL is let go
    std::uint8_t out_ = 0;    // the byte going out
    bool stretching_ = false;
    bool frame_cut_ = false; // the master gave up within a byte
    bool reached_ = false;
    std::uint64_t released_at_ = 0;
    bool ea_ = false; // TWEA as the firmware last let go of SCL
};

} // namespace wpisim
