// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The Pi's I2C bus against a Wire slave sketch on the simulated board: the
// calls' results and errno as on a Pi, the example's output on the virtual
// clock, and the trace as sigrok's I2C decoder reads it.

#include "harness/sandbox.hpp"
#include "suite_tool.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using harness::Sandbox;

namespace
{

harness::Outcome probe(const Sandbox &box, std::vector<std::string> args, const char *peer)
{
    auto run = box.program("library_probe");
    run.env("WPISIM_TIME", "virtual").env("WPISIM_FIRMWARE", I2C_SKETCH_HEX);
    if (*peer != '\0')
        run.env("WPISIM_PEER", peer);
    return run.args(std::move(args)).timeout_ms(60000).run();
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// On an Uno (SDA and SCL on A4 and A5) and a Mega (D20 and D21), whose TWI
// sit at the same registers but whose Wire code differs.
TEST(I2c, RegisterExampleOnTheVirtualClockPrintsExactly)
{
    struct Board {
        const char *kind;
        const char *firmware;
        const char *took; // 38 SCL periods at 100 kHz, and SCL held while Wire's handler runs
    };
    for (const Board &b :
         {Board{"uno", I2C_SKETCH_HEX, "426"}, Board{"mega", I2C_SKETCH_MEGA_ELF, "427"}}) {
        SCOPED_TRACE(b.kind);
        Sandbox box;
        const auto r = box.program("i2c_registers")
                           .env("WPISIM_TIME", "virtual")
                           .env("WPISIM_BOARD", b.kind)
                           .env("WPISIM_FIRMWARE", b.firmware)
                           .timeout_ms(60000)
                           .run();
        EXPECT_EQ(r.out, std::string("id: 0x42 (read in ") + b.took +
                             " us)\nversion: 3\nword: 0x1234\nregister 2: 0x99\nreads served: 4\n");
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.exited && r.status == 0) << "status " << r.status << " signal " << r.signal;
    }
}

// Each call against the sketch at 0x08 and where nothing answers:
// i2c-bcm2835 fails a NACK with EREMOTEIO (121). The calls run in
// this order, each on what the ones before left in the sketch's registers.
TEST(I2c, CallsGiveTheDriversResultsAtAPresentAndAMissingAddress)
{
    struct Row {
        std::vector<std::string> call;
        const char *present;
        const char *missing;
    };
    const std::vector<Row> rows = {
        {{"i2c-read"}, "66 0", "-1 121"}, // register 0, the last one named
        {{"i2c-read8", "1"}, "3 0", "-1 121"},
        {{"i2c-read16", "4"}, "4660 0", "-1 121"}, // 0x1234, low byte first
        {{"i2c-write", "5"}, "0 0", "-1 121"},
        {{"i2c-read"}, "18 0", "-1 121"},
        {{"i2c-write8", "2", "0x99"}, "0 0", "-1 121"},
        {{"i2c-write16", "6", "0xbeef"}, "0 0", "-1 121"},
        {{"i2c-block-read", "4", "4"}, "4 0 3412efbe", "-1 121"},
        // SMBus's block write: the count goes first, into register 2.
        {{"i2c-block-write", "2", "0102"}, "0 0", "-1 121"},
        {{"i2c-block-read", "2", "3"}, "3 0 020102", "-1 121"},
        {{"i2c-raw-write", "0677"}, "2 0", "-1 121"},
        {{"i2c-raw-read", "2"}, "2 0 77be", "-1 121"},
        // The descriptor itself, as i2c-dev: read, write and I2C_SLAVE.
        {{"dev-write", "0455"}, "2 0", "-1 121"},
        {{"dev-read", "3"}, "3 0 551277", "-1 121"},
        {{"dev-slave", "0x80"}, "-1 22", "-1 22"},
        {{"dev-slave", "0x51"}, "0 0", "0 0"},
        {{"i2c-read8", "0"}, "-1 121", "-1 121"},
    };
    // The sketch's address, another, and the sketch's with the board off
    // the bus (another peer on SPI): nothing there either.
    struct Bus {
        const char *address;
        const char *peer;
        bool present;
    };
    for (const Bus &bus :
         {Bus{"8", "", true}, Bus{"0x50", "", false}, Bus{"8", "loopback", false}}) {
        SCOPED_TRACE(std::string(bus.address) + " " + bus.peer);
        Sandbox box;
        std::vector<std::string> args = {"i2c-setup", bus.address};
        for (const Row &row : rows)
            args.insert(args.end(), row.call.begin(), row.call.end());
        const auto r = probe(box, args, bus.peer);
        ASSERT_TRUE(r.exited && r.status == 0) << r.err;
        const auto lines = lines_of(r.out);
        ASSERT_EQ(lines.size(), rows.size() + 1) << r.out;
        EXPECT_EQ(lines[0], "fd#1 0");
        for (std::size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(lines[i + 1], bus.present ? rows[i].present : rows[i].missing)
                << rows[i].call[0];
    }
}

// A slave may hold SCL low while it prepares its answer: the master waits,
// on the bench clock, up to the 35 ms i2c-bcm2835 allows, then fails with
// EIO; the slave takes the next START as a bus error and answers again.
TEST(I2c, ASlaveHoldingSclPastTheDriversLimitFailsWithEioAndTheBusRecovers)
{
    struct Row {
        const char *reg; // held 20 ms for register 0, 40 ms for register 1
        const char *result;
        std::int64_t min_us; // the transfer's time on the bus
        std::int64_t max_us;
    };
    const std::vector<Row> rows = {
        {"0", "64 0", 20000, 21000},
        {"1", "-1 5", 35000, 36000},
        {"0", "64 0", 20000, 21000},
    };
    Sandbox box;
    std::vector<std::string> args = {"i2c-setup", "8"};
    for (const Row &row : rows)
        args.insert(args.end(), {"i2c-read8", row.reg});
    const auto r = box.program("library_probe")
                       .env("WPISIM_TIME", "virtual")
                       .env("WPISIM_FIRMWARE", I2C_SLOW_SKETCH_HEX)
                       .args(args)
                       .timeout_ms(60000)
                       .run();
    ASSERT_TRUE(r.exited && r.status == 0) << r.err;
    const auto lines = lines_of(r.out);
    const auto transfers = harness::only(box.calls(), "i2c-transfer");
    ASSERT_EQ(lines.size(), rows.size() + 1) << r.out;
    ASSERT_EQ(transfers.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(lines[i + 1], rows[i].result) << "row " << i;
        const std::int64_t us = (transfers[i].num("end_ns") - transfers[i].num("start_ns")) / 1000;
        EXPECT_GE(us, rows[i].min_us) << "row " << i;
        EXPECT_LE(us, rows[i].max_us) << "row " << i;
    }
}

TEST(I2c, SigrokDecodesTheTraceIntoTheAddressesAndBytes)
{
    REQUIRE_TOOL(SIGROK_CLI);
    Sandbox box;
    const std::string vcd = box.dir() + "/i2c.vcd";
    const auto r = box.program("library_probe")
                       .env("WPISIM_TIME", "virtual")
                       .env("WPISIM_FIRMWARE", I2C_SKETCH_HEX)
                       .env("WPISIM_TRACE", vcd)
                       .args({"i2c-setup", "8", "i2c-read16", "4", "i2c-write8", "2", "0xa5",
                              "i2c-setup", "0x50", "i2c-read8", "0"})
                       .timeout_ms(60000)
                       .run();
    ASSERT_TRUE(r.exited && r.status == 0) << r.err;
    std::string out;
    ASSERT_TRUE(tool_output(SIGROK_CLI,
                            "-I vcd -i '" + vcd +
                                "' -P i2c:scl=SCL:sda=SDA -A i2c=start:repeat-start:stop:ack:nack:"
                                "address-read:address-write:data-read:data-write",
                            out));
    std::string decoded;
    for (const std::string &line : lines_of(out))
        decoded += (line.rfind("i2c-1: ", 0) == 0 ? line.substr(7) : "[" + line + "]") + "; ";
    EXPECT_EQ(decoded,
              "Start; Write; Address write: 08; ACK; Data write: 04; ACK; Start repeat; "
              "Read; Address read: 08; ACK; Data read: 34; ACK; Data read: 12; NACK; Stop; "
              "Start; Write; Address write: 08; ACK; Data write: 02; ACK; Data write: A5; ACK; "
              "Stop; Start; Write; Address write: 50; NACK; Stop; ");
}

} // namespace
