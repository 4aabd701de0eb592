// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The board process as runs meet it: one per state directory, shared by runs
// at once as a Pi's bus is, never hanging a run, never another user's.

#include "harness/parley_text.hpp"
#include "harness/probe_text.hpp"
#include "harness/sandbox.hpp"
#include "simulated_board.hpp"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using harness::probe_replies;
using harness::Sandbox;

namespace
{

namespace fs = std::filesystem;

// Waits, a bounded while, for the log to show a line of this event.
bool wait_for(const Sandbox &box, const std::string &event, std::size_t count = 1)
{
    return harness::eventually([&] { return harness::only(box.calls(), event).size() >= count; });
}

harness::ProgramRun probe(const Sandbox &box, std::vector<std::string> args)
{
    return box.program("library_probe").args(std::move(args));
}

TEST(BoardProcess, RunsUnderItsOwnNameWithNothingOfTheRunThatStartedIt)
{
    REQUIRE_BOARD();
    Sandbox box;
    ASSERT_EQ(probe(box, {"spi-setup", "0", "5000"}).run().status, 0);
    const pid_t pid = board_pid(box);
    ASSERT_GT(pid, 0);
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    // Under an emulator the process is the emulator's, running our program.
    std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
    std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    EXPECT_NE(args.find("/wpisim-board"), std::string::npos) << name;
    EXPECT_EQ(args.find("library_probe"), std::string::npos);
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd"), "/");
    // None of the test's pipes: a reader of the run's output sees it end.
    for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        EXPECT_EQ(fs::read_symlink(fd.path()).string().rfind("pipe:", 0), std::string::npos)
            << fd.path();
}

TEST(BoardProcess, AStuckRunStallsNoOtherRun)
{
    REQUIRE_BOARD();
    Sandbox box;
    ASSERT_EQ(probe(box, {"spi-setup", "0", "5000"}).run().status, 0);
    // A client that sends half a message and then waits.
    const int stuck = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = box.state_dir() + "/board.sock";
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(connect(stuck, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(send(stuck, "h", 1, 0), 1);
    const auto r = virtual_run(box, "parley").input("ac").run();
    close(stuck);
    EXPECT_EQ(harness::reply_pairs(r.out).back(), "i3");
    EXPECT_LT(r.end_ns - r.start_ns, 5000 * harness::ms);
}

TEST(BoardProcess, AStoppedBoardEndsTheRunWithinItsTimeLimitAndSaysWhy)
{
    REQUIRE_BOARD();
    Sandbox box;
    // The board is stopped between set-up and the transfer.
    auto run = std::async(std::launch::async, [&] {
        return probe(box, {"spi-setup", "0", "5000", "delay", "500", "transfer", "0", "6163"})
            .run();
    });
    ASSERT_TRUE(wait_for(box, "spi-setup"));
    const pid_t pid = board_pid(box);
    ASSERT_EQ(kill(pid, SIGSTOP), 0);
    const auto r = run.get();
    kill(pid, SIGCONT);
    EXPECT_EQ(r.err, "wpisim: board: the board process (pid " + std::to_string(pid) +
                         ") failed the transfer: no answer in time\n");
    EXPECT_EQ(r.status, 2);
    // Ended by its own limit, not the harness's.
    EXPECT_FALSE(r.timed_out);
}

TEST(BoardProcess, BoardFilesThatAreNotTheUsersOwnAreRefusedAtOnceWithTheReason)
{
    REQUIRE_BOARD();
    const bool root = geteuid() == 0;
    struct Case {
        const char *planted;
        bool directory;
        bool other_user; // needs root to plant
        const char *why;
    };
    for (const Case &c : {Case{"board.sock", true, false, "not a socket"},
                          Case{"board.lock", true, false, "Is a directory"},
                          Case{"board.sock", false, true, "owned by uid 65534, not by you"},
                          Case{"board.lock", false, true, "owned by uid 65534, not by you"},
                          Case{"", true, true, "owned by uid 65534, not by you"}}) {
        SCOPED_TRACE(std::string(c.planted) + (c.other_user ? " of another user" : ""));
        if (c.other_user && !root)
            continue; // only root can plant another user's file
        Sandbox box;
        const fs::path dir = box.state_dir();
        fs::create_directories(dir);
        const fs::path file = *c.planted != '\0' ? dir / c.planted : dir;
        if (c.directory)
            fs::create_directories(file);
        else
            std::ofstream(file).put('x');
        if (c.other_user) {
            ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
        }
        const auto r = probe(box, {"spi-setup", "0", "5000"}).run();
        const std::string what = *c.planted == '\0' ? "state directory"
                                 : std::string(c.planted) == "board.lock" && c.directory
                                     ? "board lock"
                                     : c.planted;
        EXPECT_EQ(r.err, "wpisim: " + what + " \"" + file.string() + "\": " + c.why + "\n");
        EXPECT_EQ(r.status, 2);
        // Refused before any board process was started and waited for.
        EXPECT_FALSE(fs::exists(dir / "board.tty"));
    }
}

TEST(SharedBus, RunsAtOnceTakeTurnsOnTheBusAndTheBoardSitsOnCe0Only)
{
    REQUIRE_BOARD();
    const std::vector<std::string> three_on_ce0 = {"spi-setup", "0",        "5000",     "transfer",
                                                   "0",         "6163",     "transfer", "0",
                                                   "6163",      "transfer", "0",        "6163"};
    const std::vector<std::string> three_on_ce1 = {"spi-setup", "1",        "5000",     "transfer",
                                                   "1",         "6163",     "transfer", "1",
                                                   "6163",      "transfer", "1",        "6163"};
    struct Case {
        const char *name;
        std::vector<std::vector<std::string>> runs;
        // What each run gets, every transfer: exchanges a few ms apart are
        // each a new conversation's first, so "w", and nothing lit yet.
        std::vector<std::string> replies;
    };
    const std::vector<Case> cases = {
        {"two runs on CE0", {three_on_ce0, three_on_ce0}, {"w0", "w0"}},
        {"four runs on CE0",
         {three_on_ce0, three_on_ce0, three_on_ce0, three_on_ce0},
         {"w0", "w0", "w0", "w0"}},
        {"CE1 beside CE0", {three_on_ce1, three_on_ce0}, {std::string(2, '\0'), "w0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        std::vector<std::future<harness::Outcome>> runs;
        for (const auto &args : c.runs)
            runs.push_back(std::async(std::launch::async, [&] { return probe(box, args).run(); }));
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const auto r = runs[i].get();
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(probe_replies(r), std::vector<std::string>(3, c.replies[i])) << "run " << i;
        }
        // Every exchange the board saw was whole: no transfer ran into another.
        std::size_t on_ce0 = 0;
        for (const auto &t : harness::only(box.calls(), "spi-transfer"))
            on_ce0 += t.at("channel") == "0" ? 1 : 0;
        EXPECT_EQ(harness::only(box.calls(), "board").size(), on_ce0);
        // Of the runs that found no board, exactly one started it.
        std::size_t starters = 0;
        for (const auto &link : harness::only(box.calls(), "board-link"))
            starters += link.at("started") == "1" ? 1 : 0;
        EXPECT_EQ(starters, 1U);
    }
}

// Transfers asked back to back on the virtual clock, in one run and from the
// next: each waits until CE0 has been high 50 us, and no longer than the
// AVR's cycle rounding adds.
TEST(SharedBus, CeZeroStaysHigh50usBetweenTransfersFromOneRunOrTwo)
{
    REQUIRE_BOARD();
    Sandbox box;
    virtual_run(box, "library_probe")
        .args({"spi-setup", "0", "5000", "transfer", "0", "6163", "transfer", "0", "6163"})
        .run();
    virtual_run(box, "library_probe")
        .args({"spi-setup", "0", "5000", "transfer", "0", "6163"})
        .run();
    const auto t = harness::only(box.calls(), "spi-transfer");
    ASSERT_EQ(t.size(), 3U);
    for (std::size_t i = 1; i < t.size(); ++i) {
        SCOPED_TRACE(i == 1 ? "in one run" : "from the next run");
        EXPECT_EQ(t[i].num("start_ns"), t[i - 1].num("end_ns")) << "not asked back to back";
        // CE0 rises half a bit after a transfer's wire time, and falls as the next begins.
        const std::int64_t rose = t[i - 1].num("end_ns") + t[i - 1].num("bit_ns") / 2;
        const std::int64_t fell = t[i].num("end_ns") - 8 * t[i].num("len") * t[i].num("bit_ns");
        EXPECT_GE(fell - rose, 50000);
        EXPECT_LT(fell - rose, 51000);
    }
}

TEST(SharedBus, AResetOrTheSameFirmwareByAnotherPathLeavesOtherRunsGoingOn)
{
    REQUIRE_BOARD();
    Sandbox box;
    fs::create_directories(box.dir() + "/other");
    const std::string one = box.dir() + "/one.elf";
    const std::string two = box.dir() + "/other/two.elf";
    fs::copy_file(built_firmware_elf, one);
    fs::copy_file(built_firmware_elf, two);
    auto first = std::async(std::launch::async, [&] {
        return box.program("parley").input("ac").env("WPISIM_FIRMWARE", one).run();
    });
    ASSERT_TRUE(wait_for(box, "spi-transfer"));
    const auto same = probe(box, {"spi-setup", "0", "5000"}).env("WPISIM_FIRMWARE", two).run();
    const auto reset = probe(box, {"spi-setup", "0", "5000"}).env("WPISIM_BOARD_RESET", "1").run();
    const auto r = first.get();
    // The run went on against the reset board, to the end of its conversation.
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(harness::reply_pairs(r.out).back(), "i3");
    const auto links = harness::only(box.calls(), "board-link");
    ASSERT_EQ(links.size(), 3U);
    EXPECT_EQ(links[1].at("reset"), "0") << "the same firmware by another path";
    EXPECT_EQ(links[2].at("reset"), "1");
    EXPECT_EQ(links[2].at("board_pid"), links[0].at("board_pid"));
}

} // namespace

namespace
{

TEST(SharedBus, RunsAtOnceOnAVirtualClockAreRefusedWithOneLine)
{
    REQUIRE_BOARD();
    struct Case {
        const char *time;
        std::string said;
    };
    for (const Case &c :
         {Case{"virtual", "is on this state directory's virtual clock; runs at once need "
                          "WPISIM_TIME=wall\n"},
          Case{"wall",
               "wpisim: WPISIM_TIME=wall: the board is in use by a run on virtual time\n"}}) {
        SCOPED_TRACE(c.time);
        Sandbox box;
        // A run waiting at its prompt holds the clock and the board, until
        // it is ended here, by the pid its own log gives.
        auto waiting = std::async(std::launch::async, [&] {
            return box.program("parley").env("WPISIM_TIME", "virtual").keep_input_open().run();
        });
        ASSERT_TRUE(wait_for(box, "spi-setup"));
        const auto r = probe(box, {"spi-setup", "0", "5000"}).env("WPISIM_TIME", c.time).run();
        kill(static_cast<pid_t>(harness::only(box.calls(), "spi-setup").at(0).num("pid")), SIGTERM);
        EXPECT_EQ(waiting.get().signal, SIGTERM);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    }
}

} // namespace
