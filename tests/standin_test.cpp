// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The stand-in's own promises that the other tests and the demo lean on.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <iterator>
#include <set>
#include <unistd.h>

using harness::ms;
using harness::prompts;
using harness::reply;
using harness::Sandbox;
namespace fs = std::filesystem;

namespace
{

// The SPI calls answer a misuse as wiringPi does: a negative errno returned,
// errno left alone, and the library's message, which ends no line.
TEST(StandInBus, SpiCallsReturnAndSayWhatTheLibraryDoes)
{
    const std::string need_setup =
        "wiringPiSPI: Invalid SPI number/channel (need wiringPiSPIxSetupMode before read/write)";
    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        std::string modes; // of the log's spi-setup lines
        int status = 0;
    };
    const Case cases[] = {
        {{"spi-mode", "3", "5000", "0"},
         "-22 0\n",
         "wiringPiSPI: Invalid SPI channel (3, valid range 0-2)",
         "0"},
        // A chip select the library takes but the Pi has no device for: it
        // ends the program, as no wiringPiSetup asked for return codes.
        {{"spi-mode", "2", "5000", "1"},
         "",
         "Unable to open SPI device /dev/spidev0.2: No such file or directory\n",
         "1",
         1},
        {{"setup", "wpi", "spi-mode", "2", "5000", "1"}, "0\n-1 2\n", "", "1"},
        {{"spi-mode", "0", "5000", "4"},
         "-22 0\n",
         "wiringPiSPI: Invalid mode (4, valid range 0-3)",
         "4"},
        {{"spix-mode", "7", "0", "5000", "0"},
         "-22 0\n",
         "wiringPiSPI: Invalid SPI number  (7, valid range 0-6)",
         "0"},
        {{"spix-mode", "1", "0", "5000", "2"},
         "",
         "Unable to open SPI device /dev/spidev1.0: No such file or directory\n",
         "2",
         1},
        // A second set-up opens another descriptor and leaves the first open.
        {{"spi-mode", "0", "5000", "0", "spi-mode", "0", "5000", "3", "spi-fd", "0"},
         "fd#1 0\nfd#2 0\nfd#2\n",
         "",
         "03"},
        {{"spi-fd", "1", "spi-fd", "-1"},
         "-1\n-1\n",
         "wiringPiSPI: Invalid SPI channel (-1, valid range 0-2)",
         ""},
        {{"spi-close", "1", "spi-close", "5"},
         "0 0\n-22 0\n",
         "wiringPiSPI: Invalid SPI channel (5, valid range 0-2)",
         ""},
        {{"spi-mode", "0", "5000", "0", "spi-close", "0", "spi-fd", "0", "transfer", "0", "61"},
         "fd#1 0\n0 0\n-1\n-9 0 61\n",
         need_setup,
         "0"},
        {{"transfer", "0", "6162", "spi-setup", "0", "5000", "transfer", "1", "6162"},
         "-9 0 6162\n0 0\n-9 0 6162\n",
         need_setup + need_setup,
         "0"},
        // More than the driver's buffer: 4097 bytes.
        {{"spi-setup", "0", "5000", "transfer", "0", std::string(8194, 'a')},
         "0 0\n-1 90 " + std::string(8194, 'a') + "\n",
         "",
         "0"},
        {{"transfer", "3", "61"},
         "-22 0 61\n",
         "wiringPiSPI: Invalid SPI channel (3, valid range 0-2)",
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.at(1));
        Sandbox box;
        const auto r = box.program("library_probe")
                           .args(c.args)
                           .env("WPISIM_PEER", "loopback")
                           .env("WIRINGPI_CODES", "1")
                           .run();
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
        std::string modes;
        for (const auto &setup : harness::only(box.calls(), "spi-setup"))
            modes += setup.at("mode");
        EXPECT_EQ(modes, c.modes);
        // Every call is logged, as it returned.
        for (const auto &t : harness::only(box.calls(), "spi-transfer"))
            EXPECT_NE(c.out.find(t.at("result") + " " + t.at("errno") + " "), std::string::npos);
    }
}

TEST(StandInBus, TransferBlocksForEightBitTimesPerByteAtTheSetUpSpeed)
{
    struct Case {
        const char *speed;
        const char *bytes;
        std::int64_t at_least_ns;
    };
    for (const Case &c : {Case{"5000", "6162", 3200000}, Case{"1000", "616263", 24 * ms}}) {
        Sandbox box;
        box.program("library_probe")
            .args({"spi-setup", "0", c.speed, "transfer", "0", c.bytes})
            .env("WPISIM_PEER", "loopback")
            .run();
        const auto t = harness::only(box.calls(), "spi-transfer").at(0);
        EXPECT_GE(t.num("end_ns") - t.num("start_ns"), c.at_least_ns) << c.speed;
        EXPECT_EQ(t.bytes("in"), t.bytes("out"));
    }
}

// A call that works leaves errno as the caller had it, as the real library's
// open and ioctl do. The virtual clock's first use, at set-up when tracing,
// else at the first transfer, makes the state directory on the way.
TEST(StandInBus, CallsThatWorkLeaveErrnoAlone)
{
    for (const bool traced : {false, true}) {
        Sandbox box;
        auto run = box.program("library_probe")
                       .args({"spi-setup", "0", "5000", "transfer", "0", "6162"})
                       .env("WPISIM_PEER", "loopback")
                       .env("WPISIM_TIME", "virtual");
        if (traced)
            run.env("WPISIM_TRACE", box.dir() + "/bus.vcd");
        EXPECT_EQ(run.run().out, "0 0\n2 0 6162\n") << (traced ? "traced" : "not traced");
    }
}

TEST(StandInPeers, ScriptRepeatsItsLastReplyOnceUsedUp)
{
    Sandbox box;
    const auto r = box.program("library_probe")
                       .args({"spi-setup", "0", "5000", "transfer", "0", "0000", "transfer", "0",
                              "0000", "transfer", "0", "000000"})
                       .env("WPISIM_REPLIES", "4142,4344")
                       .run();
    EXPECT_EQ(r.out, "0 0\n2 0 4142\n2 0 4344\n3 0 434400\n");
}

TEST(StandInPeers, SmallModelEndsAConversationOnTheThirdCycle)
{
    Sandbox box;
    const auto r = box.program("parley").input("ab").env("WPISIM_PEER", "model").run();
    EXPECT_EQ(r.out, prompts + reply("--") + reply("ab") + reply("ib"));
    EXPECT_EQ(r.status, 0);
}

// As wiringPi 3.14: pinMode before set-up stops the program, digitalWrite
// says so and goes on.
TEST(StandInGpio, CallsBeforeSetUpDoWhatTheLibraryDoes)
{
    Sandbox box;
    const auto written = box.program("library_probe").args({"write", "0", "1"}).run();
    EXPECT_EQ(written.err, "digitalWrite: invalid mode\n");
    EXPECT_EQ(written.status, 0);
    const auto moded = box.program("library_probe").args({"mode", "0", "1"}).run();
    EXPECT_EQ(moded.err, "pinMode: You have not called one of the wiringPiSetup\n"
                         "  functions, so I'm aborting your program before it crashes anyway.\n");
    EXPECT_EQ(moded.status, 1);
    EXPECT_EQ(box.pin_state(0), "input low");
}

TEST(StandInGpio, UnusableStateDirectoryIsAClearErrorNotASilentPin)
{
    Sandbox box;
    const std::string blocker = box.dir() + "/not-a-dir";
    std::ofstream(blocker) << "x";
    const auto r = box.program("allumer").env("WPISIM_STATE_DIR", blocker + "/gpio").run();
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wpisim: state directory \"" + blocker + "/gpio\": Not a directory\n");
}

// Takes variables out of this process's environment, which the programs
// inherit, and puts them back afterwards.
class Unset
{
  public:
    explicit Unset(std::vector<std::string> names) : names_(std::move(names))
    {
        for (const std::string &name : names_) {
            const char *value = std::getenv(name.c_str());
            saved_.emplace_back(value != nullptr, value != nullptr ? value : "");
            unsetenv(name.c_str());
        }
    }
    ~Unset()
    {
        for (std::size_t i = 0; i < names_.size(); ++i)
            if (saved_[i].first)
                setenv(names_[i].c_str(), saved_[i].second.c_str(), 1);
    }
    Unset(const Unset &) = delete;
    Unset &operator=(const Unset &) = delete;

  private:
    std::vector<std::string> names_;
    std::vector<std::pair<bool, std::string>> saved_;
};

// Without HOME or XDG_STATE_HOME the pins live under the temporary directory,
// where another user may have prepared a place to catch them.
TEST(StandInGpio, SharedFallbackStateDirectoryMustBeOursAndPrivate)
{
    const Unset outside({"HOME", "XDG_STATE_HOME", "TMPDIR"});
    struct Case {
        const char *name;
        // False when this machine cannot set the case up.
        std::function<bool(const std::string &dir, const std::string &victim)> prepare;
        const char *why; // nullptr: allumer runs
    };
    // Made beforehand with this mode.
    auto made = [](fs::perms mode) {
        return [mode](const std::string &dir, const std::string &) {
            fs::create_directory(dir);
            fs::permissions(dir, mode);
            return true;
        };
    };
    using P = fs::perms;
    const char *open_to_others = "open to other users (it must be private, mode 0700)";
    const Case cases[] = {
        {"absent", [](const std::string &, const std::string &) { return true; }, nullptr},
        {"0700", made(P::owner_all), nullptr},
        {"0777", made(P::all), open_to_others},
        {"0770", made(P::owner_all | P::group_all), open_to_others},
        {"0750", made(P::owner_all | P::group_read | P::group_exec), open_to_others},
        {"0707", made(P::owner_all | P::others_all), open_to_others},
        {"0701", made(P::owner_all | P::others_exec), open_to_others},
        {"a link",
         [](const std::string &dir, const std::string &victim) {
             fs::create_directory_symlink(victim, dir);
             return true;
         },
         "a symbolic link, not a directory of its own"},
        {"someone else's",
         [](const std::string &dir, const std::string &) {
             fs::create_directory(dir);
             fs::permissions(dir, fs::perms::owner_all);
             // Only root can give a directory away.
             return chown(dir.c_str(), 65534, 65534) == 0;
         },
         "owned by uid 65534, not by you"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        const std::string dir = box.dir() + "/wpisim-" + std::to_string(getuid());
        const std::string victim = box.dir() + "/victim";
        fs::create_directory(victim);
        if (!c.prepare(dir, victim)) {
            std::cout << "not tried here: " << c.name << "\n";
            continue;
        }
        const auto r =
            box.program("allumer").env("WPISIM_STATE_DIR", "").env("TMPDIR", box.dir()).run();
        EXPECT_TRUE(fs::is_empty(victim));
        if (c.why == nullptr) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(fs::status(dir).permissions() & fs::perms::mask, fs::perms::owner_all);
            EXPECT_EQ(fs::status(dir + "/pins").permissions() & fs::perms::mask,
                      fs::perms::owner_read | fs::perms::owner_write);
            continue;
        }
        EXPECT_EQ(r.err, "wpisim: state directory \"" + dir + "\": " + c.why + "\n");
        EXPECT_EQ(r.status, 2);
    }
}

TEST(StandInGpio, APinBankNotOursIsAClearErrorNotASilentPin)
{
    const struct {
        const char *name;
        void (*plant)(const std::string &path);
        const char *what;
        const char *why;
    } rows[] = {
        {"a directory", [](const std::string &path) { fs::create_directories(path + "/x"); },
         "pins", "not a regular file"},
        {"another file", [](const std::string &path) { std::ofstream(path) << "17 output high\n"; },
         "wiringPiSetup: pin bank", "not a pin bank this stand-in wrote"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Sandbox box;
        fs::create_directories(box.state_dir());
        row.plant(box.state_dir() + "/pins");
        const auto r = box.program("allumer").run();
        EXPECT_EQ(r.err, std::string("wpisim: ") + row.what + " \"" + box.state_dir() +
                             "/pins\": " + row.why + "\n");
        EXPECT_EQ(r.status, 2);
    }
}

// Settings that would make a test pass without testing anything are errors,
// refused at SPI set-up (so before parley's first prompt) with the value
// quoted; the rest have one documented meaning. "@" stands for the sandbox.
TEST(StandInSettings, EachSettingMeansOneThingOrIsRefused)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> env;
        std::string out; // what library_probe prints when the stand-in goes ahead
        std::string err;
        int signal = 0; // the one that ended the run, if any
        // The simulated board took part in each transfer, and its
        // peer_cpu_ns counts the board process's time too.
        bool board_time = false;
        std::string library{}; // what the library itself says, before err
        int status = -1;       // when not what err implies
    };
    const std::string need_setup =
        "wiringPiSPI: Invalid SPI number/channel (need wiringPiSPIxSetupMode before read/write)";
    const std::string bad_n = "not N or N:ERRNO, with N the number of a transfer counted from 1\n";
    const std::string long_peer(300, 'x');
    const std::string long_sclk(300, '1');
    const std::string not_sclk = "not a clock in Hz (1 to 125000000)\n";
    const std::string not_seed = "seed:N wants a decimal number from 0 to 18446744073709551615\n";
    const std::string not_errno = "(a name such as EACCES, or a number from 1 to 4095)\n";
    const std::string not_n = "not the number of a transfer (1 to 2147483647)\n";
    const Case cases[] = {
        // A number is plain decimal digits, within its range.
        {{{"WPISIM_SCLK", " 5000"}}, "", "WPISIM_SCLK=\" 5000\": " + not_sclk},
        {{{"WPISIM_SCLK", "+5000"}}, "", "WPISIM_SCLK=\"+5000\": " + not_sclk},
        {{{"WPISIM_SCLK", "0x1000"}}, "", "WPISIM_SCLK=\"0x1000\": " + not_sclk},
        {{{"WPISIM_SCLK", "5000 "}}, "", "WPISIM_SCLK=\"5000 \": " + not_sclk},
        {{{"WPISIM_SCLK", "0"}}, "", "WPISIM_SCLK=\"0\": " + not_sclk},
        {{{"WPISIM_SCLK", "125000001"}}, "", "WPISIM_SCLK=\"125000001\": " + not_sclk},
        // Each bound itself is taken: 1 Hz on the virtual clock, where its 32 s pass at once.
        {{{"WPISIM_SCLK", "1"}, {"WPISIM_TIME", "virtual"}, {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n2 0 6162\n",
         ""},
        {{{"WPISIM_SCLK", "125000000"}, {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n2 0 6162\n",
         ""},
        {{{"WPISIM_CORE", "seed:0"}, {"WPISIM_PI", "pi3"}, {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n2 0 6162\n",
         ""},
        {{{"WPISIM_INTERRUPT_AT", "0"}}, "", "WPISIM_INTERRUPT_AT=\"0\": " + not_n},
        {{{"WPISIM_INTERRUPT_AT", "2147483648"}},
         "",
         "WPISIM_INTERRUPT_AT=\"2147483648\": " + not_n},
        // Ended at its first transfer, before its output was flushed.
        {{{"WPISIM_INTERRUPT_AT", "1"}, {"WPISIM_PEER", "loopback"}}, "", "", SIGINT},
        {{{"WPISIM_INTERRUPT_AT", "2147483647"}, {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n2 0 6162\n",
         ""},
        {{{"WPISIM_CORE", "seed:-1"}, {"WPISIM_PI", "pi3"}},
         "",
         "WPISIM_CORE=\"seed:-1\": " + not_seed},
        {{{"WPISIM_CORE", "seed:"}, {"WPISIM_PI", "pi3"}},
         "",
         "WPISIM_CORE=\"seed:\": " + not_seed},
        {{{"WPISIM_CORE", "seed:18446744073709551616"}, {"WPISIM_PI", "pi3"}},
         "",
         "WPISIM_CORE=\"seed:18446744073709551616\": " + not_seed},
        {{{"WPISIM_CORE", "seed:18446744073709551615"},
          {"WPISIM_PI", "pi3"},
          {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n2 0 6162\n",
         ""},
        {{{"WPISIM_CORE", "lx"}, {"WPISIM_PI", "pi3"}},
         "",
         "WPISIM_CORE=\"lx\": not a pattern of l (loaded) and i (idle), nor seed:N\n"},
        // A setting that only works with another is refused without it.
        {{{"WPISIM_CORE", "li"}}, "", "WPISIM_CORE=\"li\": needs WPISIM_PI, which is unset\n"},
        // Every value shown is quoted: control bytes escaped, 300 bytes cut at 128.
        {{{"WPISIM_PI", "\x1b]0;x\a"}},
         "",
         "WPISIM_PI=\"\\x1b]0;x\\x07\": not a Pi model (pi1-rev1, pi1, pi2, pi3, zero, zero2w, "
         "pi4, pi5)\n"},
        {{{"WPISIM_PI", "pi7"}},
         "",
         "WPISIM_PI=\"pi7\": not a Pi model (pi1-rev1, pi1, pi2, pi3, zero, zero2w, pi4, pi5)\n"},
        {{{"WPISIM_WIRING", "no-\nmiso"}},
         "",
         "WPISIM_WIRING=\"no-\\x0amiso\": not a wiring (ok, no-miso, no-mosi, no-ce0, swapped, "
         "no-ground, no-firmware)\n"},
        {{{"WPISIM_SCLK", long_sclk}},
         "",
         "WPISIM_SCLK=\"" + long_sclk.substr(0, 128) + "\"...: " + not_sclk},
        {{{"WPISIM_TRACE", "/nonexistent/bus.vcd"}},
         "",
         "WPISIM_TRACE=\"/nonexistent/bus.vcd\": cannot write: No such file or directory\n"},
        {{{"WPISIM_TRACE", "/dev/full"}},
         "",
         "WPISIM_TRACE=\"/dev/full\": cannot write: No space left on device\n"},
        {{{"WPISIM_TRACE_PINS", "17"}},
         "",
         "WPISIM_TRACE_PINS=\"17\": needs WPISIM_TRACE, which is unset\n"},
        {{{"WPISIM_TRACE_PINS", "17,,18"}, {"WPISIM_TRACE", "@/bus.vcd"}},
         "",
         "WPISIM_TRACE_PINS=\"17,,18\": not a list of BCM GPIO numbers split by commas, such "
         "as 17,18\n"},
        {{{"WPISIM_TRACE_PINS", "17,4,17"}, {"WPISIM_TRACE", "@/bus.vcd"}},
         "",
         "WPISIM_TRACE_PINS=\"17,4,17\": GPIO 17 is named twice\n"},
        {{{"WPISIM_TRACE_PINS", "58"}, {"WPISIM_TRACE", "@/bus.vcd"}},
         "",
         "WPISIM_TRACE_PINS=\"58\": GPIO 58: no Pi has it (0 to 57)\n"},
        {{{"WPISIM_FAIL_SPI_SETUP", "EACESS"}},
         "",
         "WPISIM_FAIL_SPI_SETUP=\"EACESS\": not an errno " + not_errno},
        {{{"WPISIM_FAIL_SPI_SETUP", "4096"}},
         "",
         "WPISIM_FAIL_SPI_SETUP=\"4096\": not an errno " + not_errno},
        // With no wiringPiSetup to turn on return codes, the library ends it.
        {{{"WPISIM_FAIL_SPI_SETUP", "1"}},
         "",
         "",
         0,
         false,
         "Unable to open SPI device /dev/spidev0.0: Operation not permitted\n",
         1},
        // With no wiringPiSetup to turn on return codes, the library ends it.
        {{{"WPISIM_FAIL_SPI_SETUP", "4095"}},
         "",
         "",
         0,
         false,
         "Unable to open SPI device /dev/spidev0.0: Unknown error 4095\n",
         1},
        {{{"WPISIM_FAIL_TRANSFER", "2:EACESS"}},
         "",
         "WPISIM_FAIL_TRANSFER=\"2:EACESS\": not an errno after the colon " + not_errno},
        {{{"WPISIM_FAIL_TRANSFER", "abc"}}, "", "WPISIM_FAIL_TRANSFER=\"abc\": " + bad_n},
        {{{"WPISIM_FAIL_TRANSFER", "1abc"}}, "", "WPISIM_FAIL_TRANSFER=\"1abc\": " + bad_n},
        {{{"WPISIM_FAIL_TRANSFER", "-1"}}, "", "WPISIM_FAIL_TRANSFER=\"-1\": " + bad_n},
        {{{"WPISIM_FAIL_TRANSFER", "0"}},
         "",
         "WPISIM_FAIL_TRANSFER=\"0\": transfers are counted from 1\n"},
        {{{"WPISIM_FAIL_TRANSFER", "99999999999999999999"}},
         "",
         "WPISIM_FAIL_TRANSFER=\"99999999999999999999\": the transfer number is too large\n"},
        {{{"WPISIM_FAIL_TRANSFER", "2147483648"}},
         "",
         "WPISIM_FAIL_TRANSFER=\"2147483648\": the transfer number is too large\n"},
        {{{"WPISIM_FAIL_TRANSFER", "1:0"}},
         "",
         "WPISIM_FAIL_TRANSFER=\"1:0\": not an errno after the colon " + not_errno},
        {{{"WPISIM_FAIL_TRANSFER", "1:4096"}},
         "",
         "WPISIM_FAIL_TRANSFER=\"1:4096\": not an errno after the colon " + not_errno},
        {{{"WPISIM_FAIL_TRANSFER", "1:1"}, {"WPISIM_PEER", "loopback"}},
         "0 0\n-1 1 6162\n2 0 6162\n",
         ""},
        {{{"WPISIM_FAIL_TRANSFER", "2147483647:4095"}, {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n2 0 6162\n",
         ""},
        {{{"WPISIM_FAIL_TRANSFER", "2:"}},
         "",
         "WPISIM_FAIL_TRANSFER=\"2:\": no errno after the colon\n"},
        {{{"WPISIM_FAIL_TRANSFER", "2:EACCES"}, {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n-1 13 6162\n",
         ""},
        {{{"WPISIM_LOG", "@/no/such/log"}},
         "",
         "WPISIM_LOG=\"@/no/such/log\": No such file or directory\n"},
        {{{"WPISIM_LOG", "/dev/full"}}, "", "WPISIM_LOG=\"/dev/full\": No space left on device\n"},
        {{{"WPISIM_REPLIES", "414"}},
         "",
         "WPISIM_REPLIES: reply 1 \"414\": an odd number of hex digits\n"},
        {{{"WPISIM_REPLIES", "zz"}},
         "",
         "WPISIM_REPLIES: reply 1 \"zz\": \"z\" is not a hex digit\n"},
        {{{"WPISIM_REPLIES", "6930 414"}},
         "",
         "WPISIM_REPLIES: reply 2 \"414\": an odd number of hex digits\n"},
        {{{"WPISIM_REPLIES", " , "}},
         "",
         "WPISIM_REPLIES=\" , \": no reply in it (give hex such as 7730, or unset it)\n"},
        {{{"WPISIM_REPLIES", "6930"}, {"WPISIM_PEER", "model"}},
         "",
         "WPISIM_REPLIES: only the script peer answers from it, and WPISIM_PEER=\"model\" was "
         "chosen\n"},
        {{{"WPISIM_PEER", "bo gus\x1b[2J"}},
         "",
         "WPISIM_PEER=\"bo gus\\x1b[2J\": not a peer (script, model, loopback, board)\n"},
        {{{"WPISIM_PEER", long_peer}},
         "",
         "WPISIM_PEER=\"" + long_peer.substr(0, 128) +
             "\"...: not a peer (script, model, loopback, board)\n"},
        // Meanings: 0 asks for no fault; an empty variable is an unset one.
        {{{"WPISIM_FAIL_SPI_SETUP", "0"}, {"WPISIM_REPLIES", "6930"}},
         "0 0\n2 0 6930\n2 0 6930\n",
         ""},
        {{{"WPISIM_REPLIES", ""},
          {"WPISIM_CORE", ""},
          {"WPISIM_SCLK", ""},
          {"WPISIM_PEER", "loopback"}},
         "0 0\n2 0 6162\n2 0 6162\n",
         ""},
        // Replies shorter than the transfer end in zeros; longer ones are cut.
        {{{"WPISIM_REPLIES", "69,693031"}}, "0 0\n2 0 6900\n2 0 6930\n", ""},
        // Watching the bus, or a wiring fault in the way, leaves the cost as it is.
        {{{"WPISIM_TRACE", "@/bus.vcd"}, {"WPISIM_TIME", "virtual"}},
         "0 0\n2 0 7730\n2 0 773f\n",
         "",
         0,
         true},
        {{{"WPISIM_WIRING", "swapped"}, {"WPISIM_TIME", "virtual"}},
         "0 0\n2 0 0000\n2 0 0000\n",
         "",
         0,
         true},
        {{{"WPISIM_WIRING", "no-miso"}, {"WPISIM_TIME", "virtual"}},
         "0 0\n2 0 0000\n2 0 0000\n",
         "",
         0,
         true},
    };
    for (const Case &c : cases) {
        Sandbox box;
        auto run =
            box.program("library_probe")
                .args({"spi-setup", "0", "5000", "transfer", "0", "6162", "transfer", "0", "6162"});
        std::string trace;
        for (auto [name, value] : c.env) {
            for (std::size_t at; (at = value.find('@')) != std::string::npos;)
                value.replace(at, 1, box.dir());
            trace.append(name).append("=").append(value).append(" ");
            run.env(name, value);
        }
        SCOPED_TRACE(trace);
        if (c.board_time && !HAS_SIMULATED_BOARD)
            continue;
        std::string err = c.err;
        for (std::size_t at; (at = err.find('@')) != std::string::npos;)
            err.replace(at, 1, box.dir());
        const auto r = run.run();
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.library + (err.empty() ? "" : "wpisim: " + err));
        EXPECT_EQ(r.signal, c.signal);
        if (c.signal == 0) {
            EXPECT_EQ(r.status, c.status >= 0 ? c.status : err.empty() ? 0 : 2);
        }
        if (!c.board_time)
            continue;
        const auto transfers = harness::only(box.calls(), "spi-transfer");
        const auto boards = harness::only(box.calls(), "board");
        ASSERT_EQ(boards.size(), transfers.size());
        for (std::size_t i = 0; i < transfers.size(); ++i) {
            EXPECT_GT(boards[i].num("cpu_ns"), 0);
            EXPECT_GE(transfers[i].num("peer_cpu_ns"), boards[i].num("cpu_ns"));
        }
    }
}

} // namespace
