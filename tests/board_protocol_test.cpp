// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The firmware's protocol logic on the host, driven as the interrupt glue
// drives it: chip select, bytes, deselect, timer ticks.

#include "protocol.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

constexpr int ticks_per_cycle = 51; // parley's ~513 ms at ~100 ticks a second

class Board
{
  public:
    Board()
    {
        board_init(&b_);
        load(board_first(&b_));
    }

    // One exchange as the Pi makes it; returns the bytes the board clocked out.
    // Ticks that come after SS fell but before its interrupt ran may be given.
    std::string exchange(const std::string &sent, int ticks_before_select = 0)
    {
        std::string back;
        ss_low_ = true;
        ticks(ticks_before_select);
        board_select(&b_);
        for (const char c : sent) {
            back += static_cast<char>(miso_);
            miso_ = board_byte(&b_, static_cast<uint8_t>(c));
        }
        ss_low_ = false;
        load(board_deselect(&b_));
        return back;
    }

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            if ((board_tick(&b_) & BOARD_FIRST_CHANGED) != 0 && !ss_low_)
                load(board_first(&b_));
    }

    // Exchanges every parley cycle until the first reply byte is 'i'.
    std::vector<std::string> conversation(const std::string &sent, int limit = 10)
    {
        std::vector<std::string> replies;
        do {
            replies.push_back(exchange(sent));
            ticks(ticks_per_cycle);
        } while (replies.back()[0] != 'i' && static_cast<int>(replies.size()) < limit);
        return replies;
    }

    bool busy() const { return board_busy(&b_) != 0; }
    int level(int output) const { return b_.level[output]; }
    int target(int output) const { return b_.target[output]; }

  private:
    // As the glue does: SPDR and the board's record of it change together.
    void load(uint8_t first)
    {
        miso_ = first;
        board_loaded(&b_, first);
    }

    struct board b_ {
    };
    uint8_t miso_ = 0;
    bool ss_low_ = false;
};

using Replies = std::vector<std::string>;

TEST(BoardProtocol, FadeCommandRunsFromWaitThroughFadingToIdle)
{
    Board board;
    EXPECT_EQ(board.conversation("ac"), (Replies{"w0", "f3", "i3"}));
    EXPECT_EQ(board.level(0), 255);
    EXPECT_EQ(board.level(1), 255);
}

TEST(BoardProtocol, EachOperatorByteSetsItsOwnOutput)
{
    struct Case {
        std::string sent;
        int a, b;
        char summary;
    };
    for (const Case &c : {Case{"ac", 255, 255, '3'}, Case{"ad", 255, 0, '1'},
                          Case{"bc", 0, 255, '2'}, Case{"bd", 0, 0, '0'}}) {
        SCOPED_TRACE(c.sent);
        Board board;
        const Replies r = board.conversation(c.sent);
        EXPECT_EQ(r.back(), std::string("i") + c.summary);
        EXPECT_EQ(board.level(0), c.a);
        EXPECT_EQ(board.level(1), c.b);
    }
}

TEST(BoardProtocol, BytesNotUnderstoodChangeNothingAndAreFlagged)
{
    for (const std::string &sent : {std::string("xy"), std::string("AC"), std::string(2, '\0'),
                                    std::string("\xff\xff"), std::string("ca")}) {
        Board board;
        EXPECT_EQ(board.conversation(sent), (Replies{"w0", "i?"}));
        EXPECT_EQ(board.target(0), 0);
        EXPECT_EQ(board.target(1), 0);
    }
    // The byte understood still acts; the summary flags the other.
    Board board;
    EXPECT_EQ(board.conversation("xc").back(), "i?");
    EXPECT_EQ(board.level(1), 255);
    EXPECT_EQ(board.level(0), 0);
}

TEST(BoardProtocol, RepliesAreSkewedByTheirPreparationTime)
{
    Board board;
    board.conversation("ac");
    // The first byte was prepared before this command arrived, the second
    // after its first byte only: neither knows of 'b' and 'd' yet.
    EXPECT_EQ(board.exchange("bd"), "w3");
    board.ticks(ticks_per_cycle);
    EXPECT_EQ(board.exchange("bd"), "f0");
    board.ticks(ticks_per_cycle);
    EXPECT_EQ(board.exchange("bd"), "i0");
}

TEST(BoardProtocol, IdleIsReportedOnceSoTheNextRunNeverEndsOnItsFirstCycle)
{
    Board board;
    EXPECT_FALSE(board.busy()); // a fresh board needs no tick
    EXPECT_EQ(board.conversation("ac").back(), "i3");
    EXPECT_FALSE(board.busy()); // nor one whose conversation is over
    // A second run with the same command: already done, yet it must see 'w' first.
    EXPECT_EQ(board.conversation("ac"), (Replies{"w3", "i3"}));
}

TEST(BoardProtocol, AnExchangeOutOfParleysPaceStartsANewConversation)
{
    // parley was interrupted after two cycles, its fade still going; a new run
    // follows after a gap. Only a gap at parley's own pace, 48 to 60 ticks as
    // the firmware's README promises, looks like the old run going on: a
    // board cannot tell that one apart.
    struct Case {
        int gap_ticks;
        char first;
    };
    for (const Case &c :
         {Case{0, 'w'}, Case{5, 'w'}, Case{47, 'w'}, Case{48, 'i'}, Case{ticks_per_cycle, 'i'},
          Case{60, 'i'}, Case{61, 'w'}, Case{100, 'w'}, Case{400, 'w'}}) {
        SCOPED_TRACE(c.gap_ticks);
        Board board;
        board.exchange("ac");
        board.ticks(ticks_per_cycle);
        EXPECT_EQ(board.exchange("ac"), "f3");
        board.ticks(c.gap_ticks);
        EXPECT_EQ(board.exchange("bd").at(0), c.first);
    }
}

TEST(BoardProtocol, WhatTheBoardRecordsAsSentIsWhatWasInSpdr)
{
    // A conversation with nothing to fade; the next exchange's SS falls just
    // as the tick that would load 'i' runs, before the SS interrupt.
    Board board;
    EXPECT_EQ(board.exchange("bd"), "w0");
    board.ticks(BOARD_CYCLE_MIN_TICKS - 1);
    EXPECT_EQ(board.exchange("bd", 1), "w0");
    // The board knows it sent 'w', so its conversation goes on to its 'i'.
    board.ticks(ticks_per_cycle);
    EXPECT_EQ(board.exchange("bd"), "i0");
}

TEST(BoardProtocol, LostOrExtraBytesAreDroppedAndTheNextExchangeIsInStep)
{
    Board board;
    EXPECT_EQ(board.exchange("a"), "w");     // one byte lost
    EXPECT_EQ(board.exchange("acx"), "w0!"); // one byte too many
    EXPECT_EQ(board.target(0), 0);
    EXPECT_EQ(board.target(1), 0);
    EXPECT_EQ(board.exchange("bc"), "w0");
    board.ticks(ticks_per_cycle);
    EXPECT_EQ(board.exchange("bc"), "f2");
}

TEST(BoardProtocol, StatusIsNotReloadedWhileSelected)
{
    struct board b {
    };
    board_init(&b);
    board_loaded(&b, board_first(&b));
    board_select(&b);
    board_byte(&b, 'a');
    board_byte(&b, 'c');
    board_loaded(&b, board_deselect(&b));
    board_select(&b);
    uint8_t seen = 0;
    for (int i = 0; i < 200; ++i)
        seen |= board_tick(&b);
    EXPECT_EQ(seen & BOARD_FIRST_CHANGED, 0);
    EXPECT_EQ(b.loaded_first, 'w');
}

} // namespace
