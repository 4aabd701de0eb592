// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The Pi the stand-in plays, as a C program asks the library about it: each
// WPISIM_PI model's board id and numbering, and what wiringPi 3.14 does before
// a set-up and on a failure.

#include "harness/sandbox.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using harness::Sandbox;

namespace
{

// n pins with no GPIO.
std::string none(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += " -1";
    return s;
}

// wpiPinToGpio and physPinToGpio for pins -1 to 64: 3.14's tables, read at
// pin & 63 (so -1 reads entry 63 and 64 entry 0).
std::string wpi_layout1()
{
    return "wpi -1 17 18 21 22 23 24 25 4 0 1 8 7 10 9 11 14 15" + none(47) + " 17\n";
}

std::string wpi_layout2()
{
    return "wpi -1 17 18 27 22 23 24 25 4 2 3 8 7 10 9 11 14 15 28 29 30 31 5 6 13 19 26 12 16 20 "
           "21 0 1" +
           none(32) + " 17\n";
}

std::string phys_layout1()
{
    return "phys -1 -1 -1 -1 0 -1 1 -1 4 14 -1 15 17 18 21 -1 22 23 -1 24 10 -1 9 25 11 8 -1 7" +
           none(37) + " -1\n";
}

std::string phys_layout2()
{
    return "phys 0 -1 -1 -1 2 -1 3 -1 4 14 -1 15 17 18 27 -1 22 23 -1 24 10 -1 9 25 11 8 -1 7 0 1 "
           "5 -1 6 12 13 -1 19 16 26 20 -1 21" +
           none(10) + " 28 29 30 31" + none(8) + " 0 -1\n";
}

TEST(PiBoard, EachModelAnswersWithItsBoardIdAndNumbering)
{
    struct Case {
        const char *pi; // "" leaves WPISIM_PI unset
        const char *id;
        std::string wpi;
        std::string phys;
    };
    const Case cases[] = {
        {"pi1-rev1", "3.14 rev 1 layout 1 40pin 0 rp1 0 id 1 0 0 1 0 Model B, Egoman, 256 MB",
         wpi_layout1(), phys_layout1()},
        {"pi1", "3.14 rev 2 layout 2 40pin 1 rp1 0 id 3 2 1 0 0 Model B+, Sony UK, 512 MB",
         wpi_layout2(), phys_layout2()},
        {"pi2", "3.14 rev 2 layout 2 40pin 1 rp1 0 id 4 1 2 0 0 Pi 2, Sony UK, 1024 MB",
         wpi_layout2(), phys_layout2()},
        {"pi3", "3.14 rev 2 layout 2 40pin 1 rp1 0 id 8 2 2 0 0 Pi 3, Sony UK, 1024 MB",
         wpi_layout2(), phys_layout2()},
        {"zero", "3.14 rev 2 layout 2 40pin 1 rp1 0 id 9 3 1 0 0 Pi Zero, Sony UK, 512 MB",
         wpi_layout2(), phys_layout2()},
        {"zero2w", "3.14 rev 2 layout 2 40pin 1 rp1 0 id 18 0 1 0 0 Pi Zero2-W, Sony UK, 512 MB",
         wpi_layout2(), phys_layout2()},
        {"pi4", "3.14 rev 2 layout 2 40pin 1 rp1 0 id 17 4 4 0 0 Pi 4B, Sony UK, 4096 MB",
         wpi_layout2(), phys_layout2()},
        {"", "3.14 rev 2 layout 2 40pin 1 rp1 0 id 17 4 4 0 0 Pi 4B, Sony UK, 4096 MB",
         wpi_layout2(), phys_layout2()},
        {"pi5", "3.14 rev 2 layout 2 40pin 1 rp1 1 id 23 0 4 0 0 Pi 5, Sony UK, 4096 MB",
         wpi_layout2(), phys_layout2()},
    };
    for (const Case &c : cases) {
        Sandbox box;
        auto run = box.program("board_probe").args({"rp1", "id", "setup", "wpi", "phys"});
        if (*c.pi != '\0')
            run.env("WPISIM_PI", c.pi);
        const auto r = run.run();
        // Before the board is read, 3.14 takes no Pi for a Pi 5.
        EXPECT_EQ(r.out, "rp1 0\n" + std::string(c.id) + "\nsetup 0\n" + c.wpi + c.phys) << c.pi;
        EXPECT_EQ(r.err, "") << c.pi;
    }
}

TEST(PiBoard, BeforeASetUpAndOnAFailureAsTheLibraryDoes)
{
    const std::string no_table = ": called before any wiringPiSetup: wiringPi 3.14 reads its pin "
                                 "table before it has one, and the program dies of SIGSEGV\n";
    const std::string failed = "board_probe: asked: 7\n";
    struct Case {
        std::vector<std::string> args;
        const char *codes; // WIRINGPI_CODES, nullptr for unset
        std::string out;
        std::string err;
        int status; // exit status, or -signal
    };
    const Case cases[] = {
        {{"wpi"}, nullptr, "", "wpisim: wpiPinToGpio(-1)" + no_table, -SIGSEGV},
        {{"phys"}, nullptr, "", "wpisim: physPinToGpio(-1)" + no_table, -SIGSEGV},
        // Only a set-up reads WIRINGPI_CODES; any value, even none, counts.
        {{"failure", "ALMOST"}, "1", "", failed, 1},
        {{"setup", "failure", "ALMOST"}, nullptr, "setup 0\n", failed, 1},
        {{"setup", "failure", "ALMOST"}, "", "setup 0\nfailure -1\n", "", 0},
        {{"setup", "failure", "FATAL"}, "1", "setup 0\n", failed, 1},
    };
    for (const Case &c : cases) {
        Sandbox box;
        auto run = box.program("board_probe").args(c.args);
        if (c.codes != nullptr)
            run.env("WIRINGPI_CODES", c.codes);
        const auto r = run.run();
        const std::string what = c.args.back() + (c.codes != nullptr ? " with codes" : "");
        EXPECT_EQ(r.out, c.out) << what;
        // qemu-user reports a guest's fatal signal in a line of its own.
        std::string err = r.err;
        const std::string emulator_line =
            "qemu: uncaught target signal 11 (Segmentation fault) - core dumped\n";
        if (Sandbox::emulated() && err.size() >= emulator_line.size() &&
            err.compare(err.size() - emulator_line.size(), std::string::npos, emulator_line) == 0)
            err.erase(err.size() - emulator_line.size());
        EXPECT_EQ(err, c.err) << what;
        EXPECT_EQ(r.exited ? r.status : -r.signal, c.status) << what;
    }
}

} // namespace
