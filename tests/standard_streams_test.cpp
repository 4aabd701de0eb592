// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
//
// The programs started with standard descriptors closed, unreadable or
// unwritable, as a shell line such as "parley >&-" or "parley < /" leaves them.

#include "harness/parley_text.hpp"
#include "harness/sandbox.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

using harness::prompts;
using harness::reply;
using harness::Sandbox;
using harness::script;

namespace
{

// A built program started by a shell with these redirections, as a user types them.
harness::ProgramRun from_shell(const Sandbox &box, const std::string &program,
                               const std::string &redirections)
{
    // The shell applies the redirections, then becomes the program (or its
    // emulator, which hands the descriptors on as they are).
    std::vector<std::string> words{"-c", "exec \"$@\" " + redirections, "sh"};
    for (const std::string &word : box.command(program))
        words.push_back(word);
    harness::ProgramRun run({"/bin/sh"});
    run.args(words)
        .without_env("WPISIM_")
        .env("WPISIM_LOG", box.log_path())
        .env("WPISIM_STATE_DIR", box.state_dir());
    return run;
}

std::string file_text(const std::string &path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(StandardStreams, AClosedDescriptorIsNeverTakenByADevice)
{
    struct Case {
        const char *program;
        const char *redirections;
        const char *fault; // a WPISIM_FAIL_* setting that makes the program write to stderr
        const char *fault_value;
        std::string out;
        std::string err;
        int status;
        std::string sent; // the one transfer's bytes; empty for none
    };
    const std::string zeros(2, '\0');
    const Case cases[] = {
        // Every prompt would go into the SPI device, and the run "succeed".
        {"parley", ">&-", "", "", "", "parley: cannot write prompt: Bad file descriptor\n", 1, ""},
        // The device would be read as input; a closed input is end of input.
        {"parley", "<&-", "", "", prompts + reply("i0"), "", 0, zeros},
        // The message would go into the device.
        {"parley", "2>&-", "WPISIM_FAIL_TRANSFER", "1", prompts, "", 1, "ac"},
        // The message would go into the call log.
        {"allumer", "2>&-", "WPISIM_FAIL_GPIO_SETUP", "EACCES", "", "", 1, ""},
        {"eteindre", "2>&-", "WPISIM_FAIL_GPIO_SETUP", "EACCES", "", "", 1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.redirections);
        Sandbox box;
        auto run = from_shell(box, c.program, c.redirections).input("ac");
        run.env("WPISIM_REPLIES", script({"i0"}));
        if (*c.fault != '\0')
            run.env(c.fault, c.fault_value);
        const auto r = run.run();
        EXPECT_TRUE(r.exited) << "signal " << r.signal;
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        const std::string log = file_text(box.log_path());
        EXPECT_EQ(log.find(std::string(c.program) + ": "), std::string::npos) << log;
        EXPECT_EQ(log.find(prompts), std::string::npos) << log;
        const auto calls = box.calls();
        for (const auto &setup : harness::only(calls, "spi-setup"))
            EXPECT_GT(setup.num("result"), 2);
        const auto transfers = harness::only(calls, "spi-transfer");
        EXPECT_EQ(transfers.size(), c.sent.empty() ? 0U : 1U);
        if (!c.sent.empty() && transfers.size() == 1) {
            EXPECT_EQ(transfers[0].bytes("out"), c.sent);
        }
    }
}

TEST(StandardStreams, AFailedReadStopsBeforeAnyTransfer)
{
    Sandbox box;
    // A directory as input: read() fails with EISDIR, which is not end of input.
    const auto r = from_shell(box, "parley", "< /").env("WPISIM_REPLIES", script({"i0"})).run();
    EXPECT_EQ(r.out, "out0 -> a/b ?\n");
    EXPECT_EQ(r.err, "parley: cannot read input: Is a directory\n");
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(harness::only(box.calls(), "spi-transfer").empty());
}

TEST(StandardStreams, AnUnwritablePromptStopsBeforeReadingOrSending)
{
    // A pipe whose reader is gone, inherited by the program as a one-digit
    // descriptor, since that is all a shell redirection takes.
    int broken[2];
    ASSERT_EQ(pipe(broken), 0);
    close(broken[0]);
    ASSERT_LE(broken[1], 9);
    struct Case {
        std::string redirections;
        std::string err;
    };
    const Case cases[] = {
        {">/dev/full", "parley: cannot write prompt: No space left on device\n"},
        {">&" + std::to_string(broken[1]), "parley: cannot write prompt: Broken pipe\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.redirections);
        Sandbox box;
        // Input held open and empty: a program that went on to read would hang.
        const auto r = from_shell(box, "parley", c.redirections)
                           .env("WPISIM_REPLIES", script({"i0"}))
                           .keep_input_open()
                           .ignore_sigpipe()
                           .run();
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(r.exited) << "signal " << r.signal;
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(harness::only(box.calls(), "spi-transfer").empty());
    }
    close(broken[1]);
}

} // namespace
