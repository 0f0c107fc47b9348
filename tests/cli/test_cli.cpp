// korvel-cli as a user runs it: exit codes, usage errors, and the connection
// test against the in-process simulator and through a real pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/process.h"

using kjtest::runCommand;
using Lines = std::vector<std::string>;

namespace {
kjtest::CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), KJ_CLI);
    return runCommand(std::move(args));
}
}  // namespace

TEST(Cli, HelpAndVersionSucceed) {
    const auto help = cli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: korvel-cli"), std::string::npos);
    EXPECT_NE(help.out.find("test-connect"), std::string::npos);
    EXPECT_EQ(cli({"--version"}).status, 0);
}

TEST(Cli, UsageErrorsExitWithTwoAndPrintNothingOnStandardOutput) {
    for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                  {"--simulate"},
                                                                  {"frobnicate"},
                                                                  {"--simulate", "test-connect", "now"},
                                                                  {"--simulate", "test-connect", "--bogus"},
                                                                  {"--port"}}) {
        const auto r = cli(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "") << testing::PrintToString(args);
        // One line and a hint, not the whole usage.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_EQ(r.err.rfind("korvel-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("Try 'korvel-cli"), std::string::npos) << r.err;
    }
    EXPECT_NE(cli({"kb90xx", "raed"}).err.find("did you mean \"read\"?"), std::string::npos);
    const auto toolHelp = cli({"kb90xx", "--help"});
    EXPECT_EQ(toolHelp.status, 0);
    EXPECT_NE(toolHelp.out.find("korvel-cli kb90xx cable"), std::string::npos);
    EXPECT_NE(cli({"--help"}).out.find("--version"), std::string::npos);
}

TEST(Cli, ConnectionTestOnTheSimulatorPrintsTheWindowsLines) {
    const auto r = cli({"--simulate", "test-connect"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines(), (Lines{"", "Number of VCOM ports found on the machine: 1", ">>>", "Open VCOM0",
                                "FTDI DRIVER version -> 21224", "PROG version FW -> V41"}));
}

TEST(Cli, ConnectionTestThroughTheSerialBackendOnAPseudoTerminal) {
    kjtest::Server sim({KJ_PROGSIM, "--family", "NPCE", "--version", "NPCE_V1.7"});
    const std::string line = sim.readLine();
    ASSERT_EQ(line.rfind("PORT ", 0), 0u) << line;
    const std::string port = line.substr(5);
    const auto r = cli({"--port=" + port, "--port", "/nonexistent/ttyUSB9", "test-connect"});
    EXPECT_EQ(r.status, 0);
    // Index 1 (the missing port) is skipped without a line; index 0 answers.
    EXPECT_EQ(r.lines(), (Lines{"", "Number of VCOM ports found on the machine: 2", ">>>", "Open VCOM0",
                                "FTDI DRIVER version -> 10000", "PROG version FW -> NPCE_V1.7"}));
}

TEST(Cli, ConnectionTestFailsWhenNoProgrammerAnswers) {
    const auto r = cli({"--port", "/nonexistent/ttyUSB9", "test-connect"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines(), (Lines{"", "Number of VCOM ports found on the machine: 1"}));
}
