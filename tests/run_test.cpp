// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wpisim run as CI runs it: a Pi program and a scenario, a verdict and an
// exit status; and the same artefacts from every run of one scenario.

#include "harness/sandbox.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using harness::Sandbox;

namespace
{

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// `wpisim run [options] --scenario FILE -- PROGRAM`, in the sandbox's folder.
harness::Outcome run(const Sandbox &box, const std::string &scenario,
                     std::vector<std::string> options, const std::string &program)
{
    write(box.dir() + "/scenario.toml", scenario);
    std::vector<std::string> args = {"run", "--scenario", box.dir() + "/scenario.toml"};
    args.insert(args.end(), options.begin(), options.end());
    args.emplace_back("--");
    // A path is taken as it is: a program not built here, not even for an emulator.
    const std::vector<std::string> words =
        program[0] == '/' ? std::vector<std::string>{program} : box.command(program);
    args.insert(args.end(), words.begin(), words.end());
    return box.program("wpisim").args(args).timeout_ms(60000).run();
}

struct Case {
    const char *what;
    const char *program;
    std::vector<std::string> options;
    const char *scenario;
    int status;
    const char *verdict; // in wpisim's last line on stderr
};

const char parley_talk[] = R"([[step]]
output = "out0 -> a/b ?"
[[step]]
type = "a\n"
[[step]]
output = "out1 -> c/d ?"
[[step]]
type = "c\n"
[[step]]
output = "arduino dit :i3"
within = "3s"
[[step]]
exit = 0
)";

TEST(Run, EachStepKindAndEachExitStatus)
{
#if !HAS_SIMULATED_BOARD
    GTEST_SKIP() << "no simulated board in this build";
#endif
    std::vector<Case> cases = {
        {"output, type and exit: parley's conversation",
         "parley",
         {},
         parley_talk,
         0,
         "passed, in 1.5396 s of simulated time"},
        // blink lights GPIO 17 for 500 ms each second from its start.
        {"pin and wait",
         "blink",
         {},
         R"([[step]]
wait = "250ms"
[[step]]
pin = 17
level = "high"
[[step]]
wait = "500ms"
[[step]]
pin = 17
level = "low"
)",
         0,
         "passed, in 750 ms"},
        {"a pin at the wrong level",
         "blink",
         {},
         R"([[step]]
wait = "750ms"
[[step]]
pin = 17
level = "high"
)",
         1,
         "failed: step 2 (scenario.toml:3): pin GPIO 17 high: GPIO 17 is low"},
        // button counts presses of GPIO 27 to ground, polled every 10 ms.
        {"drive",
         "button",
         {},
         R"([[step]]
wait = "100ms"
[[step]]
drive = 27
level = "low"
[[step]]
wait = "50ms"
[[step]]
drive = 27
level = "float"
[[step]]
output = "press 1 at 100 ms"
)",
         0,
         "passed"},
        {"pwm, duty and frequency",
         "pwm",
         {},
         R"([[step]]
output = "led: 25% for one second"
[[step]]
pwm = 18
duty = 7.5
hz = 50
[[step]]
pwm = 23
duty = 25
)",
         0,
         "passed"},
        {"a PWM at another frequency",
         "pwm",
         {},
         R"([[step]]
output = "led"
[[step]]
pwm = 18
duty = 7.5
hz = 60
)",
         1,
         "GPIO 18's duty is 7.5% at 50 Hz"},
        {"text a step waits for too long",
         "blink",
         {},
         R"([[step]]
output = "blink 3"
within = "1500ms"
)",
         2,
         "time limit: step 1 (scenario.toml:1): output \"blink 3\": not within 1.5 s"},
        {"the run's time limit",
         "blink",
         {"--timeout", "2s"},
         "expect = [\"done\"]\n",
         2,
         "time limit: the program ran for 2 s of simulated time without ending"},
        {"forbidden text",
         "blink",
         {"--forbid", "blink 5"},
         "",
         1,
         "failed: forbid \"blink 5\": in the output"},
        {"another exit status",
         "blink",
         {},
         "[[step]]\nexit = 1\nwithin = \"6s\"\n",
         1,
         "the program ended with status 0"},
        {"a scenario file with a fault",
         "blink",
         {},
         "[[step]]\nwait = \"1s\"\n[[step]]\nlevel = 3\n",
         3,
         "scenario.toml:3: a step without a kind"},
        {"a program that is not there", "/no/such/program", {}, "", 3, "bench error: cannot start"},
    };
#ifdef UPPER_SKETCH_HEX
    // The sketch answers each line on its serial port in capitals.
    cases.push_back({"send_serial and serial",
                     "blink",
                     {"--firmware", UPPER_SKETCH_HEX},
                     R"([[step]]
wait = "10ms"
[[step]]
send_serial = "hello\n"
[[step]]
serial = "> HELLO"
within = "100ms"
)",
                     0,
                     "passed"});
#endif
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        const auto r = run(box, c.scenario, c.options, c.program);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.verdict), std::string::npos) << r.err;
    }
}

// The artefacts of one scenario, run after run: output, call log, trace,
// serial log and report byte for byte, at whatever load the machine has.
TEST(Run, TheSameScenarioGivesTheSameArtefacts)
{
#if !HAS_SIMULATED_BOARD
    GTEST_SKIP() << "no simulated board in this build";
#endif
    const char *const files[] = {"output.txt", "calls.log", "trace.vcd", "junit.xml",
                                 "serial-board.log"};
    Sandbox box;
    std::vector<std::string> first;
    // Fewer under an emulator, where each run takes seconds.
    const int runs = Sandbox::emulated() ? 5 : 20;
    for (int i = 0; i < runs; ++i) {
        SCOPED_TRACE("run " + std::to_string(i + 1));
        const std::string dir = box.dir() + "/run" + std::to_string(i);
        const auto r = run(box, parley_talk, {"--artefacts", dir}, "parley");
        ASSERT_EQ(r.status, 0) << r.err;
        for (std::size_t f = 0; f < std::size(files); ++f) {
            const std::string text = slurp(dir + "/" + files[f]);
            if (i == 0)
                first.push_back(text);
            else
                EXPECT_EQ(text, first[f]) << files[f];
        }
    }
    EXPECT_NE(first[1].find("spi-transfer"), std::string::npos) << first[1];
    EXPECT_NE(first[2].find("#1029800"), std::string::npos);
}

} // namespace
