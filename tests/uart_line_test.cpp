// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// What a UART makes of a line driven by another: the same settings give the
// bytes sent; other rates or framings give what the bits say, worked out here
// bit by bit from the frames.

#include "uart_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using wpisim::Received;
using wpisim::uart_format;

struct Row {
    const char *name;
    std::string sent;
    double tx_baud;
    const char *tx_framing;
    double rx_baud;
    const char *rx_framing;
    // Each byte received, when in the receiver's bit times, and its errors.
    struct Got {
        double at_bits;
        int byte;
        bool framing_error;
        bool parity_error;
    };
    std::vector<Got> got;
};

TEST(UartLine, ReceiverTakesWhatTheBitsSay)
{
    const std::vector<Row> rows = {
        {"same rate and framing",
         "hi\n",
         115200,
         "8N1",
         115200,
         "8N1",
         {{9.5, 'h', false, false}, {19.5, 'i', false, false}, {29.5, '\n', false, false}}},
        {"two stop bits each way",
         "ok",
         9600,
         "8N2",
         9600,
         "8N2",
         {{9.5, 'o', false, false}, {20.5, 'k', false, false}}},
        // A receiver bit spans 12 of the sender's: the low at 'h''s start is
        // gone by mid-bit, the start is taken at the fall of its bit 7, and
        // the samples land in 'e', 'l' and the idle line after.
        {"115200 into 9600",
         "hello",
         115200,
         "8N1",
         9600,
         "8N1",
         {{(8 + 9.5 * 12) / 12, 0xfd, false, false}}},
        // 'A' at a twelfth of the rate: each low stretch reads as a zero byte
        // whose stop bit is still low.
        {"9600 into 115200",
         "A",
         9600,
         "8N1",
         115200,
         "8N1",
         {{9.5, 0x00, true, false}, {33.5, 0x00, true, false}, {105.5, 0x00, true, false}}},
        // The parity bit is taken as data bit 7: 0 for 'A', 1 for 'C'.
        {"7E1 into 8N1",
         "AC",
         9600,
         "7E1",
         9600,
         "8N1",
         {{9.5, 0x41, false, false}, {19.5, 0xc3, false, false}}},
        // Bit 7 of 'C' (0) sits where 7E1 wants its parity (1).
        {"8N1 into 7E1", "C", 9600, "8N1", 9600, "7E1", {{9.5, 0x43, false, true}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const auto tx = uart_format(row.tx_baud, row.tx_framing);
        const auto rx = uart_format(row.rx_baud, row.rx_framing);
        ASSERT_GT(tx.bit_ns, 0);
        ASSERT_GT(rx.bit_ns, 0);
        const auto got = wpisim::send_and_receive(
            std::vector<std::uint8_t>(row.sent.begin(), row.sent.end()), tx, rx);
        std::vector<Received> want;
        for (const Row::Got &g : row.got)
            want.push_back({g.at_bits * rx.bit_ns, static_cast<std::uint8_t>(g.byte),
                            g.framing_error, g.parity_error});
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].at_ns, want[i].at_ns, 1e-3) << "byte " << i;
            EXPECT_EQ(got[i].byte, want[i].byte) << "byte " << i;
            EXPECT_EQ(got[i].framing_error, want[i].framing_error) << "byte " << i;
            EXPECT_EQ(got[i].parity_error, want[i].parity_error) << "byte " << i;
        }
    }
}

// Sent a byte at a time, as a program writes: each frame is taken once, as
// soon as the line is settled past its stop bit, and a gap changes nothing.
TEST(UartLine, TakesEachFrameOnceTheLineIsSettledPastIt)
{
    const auto f = uart_format(9600, "8N1");
    wpisim::UartLine line(f, f);
    line.send('a', 0);
    auto got = line.receive(0);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].byte, 'a');
    EXPECT_NEAR(got[0].at_ns, 9.5 * f.bit_ns, 1e-3);
    line.send('b', 50 * f.bit_ns);
    got = line.receive(50 * f.bit_ns);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].byte, 'b');
    EXPECT_NEAR(got[0].at_ns, 59.5 * f.bit_ns, 1e-3);
    EXPECT_TRUE(line.receive(100 * f.bit_ns).empty());
}

} // namespace
