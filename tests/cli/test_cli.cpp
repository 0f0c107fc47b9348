// korvel-cli as a user runs it: exit codes, usage errors, and the connection
// test against the in-process simulator and through a real pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/port_list.h"
#include "support/process.h"
#include "support/scratch.h"

#include <sys/stat.h>
#include <unistd.h>

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
    // The missing port is said and not counted; the one there answers.
    EXPECT_EQ(r.lines(), (Lines{"", "Port /nonexistent/ttyUSB9 (--port) does not exist.",
                                "Number of VCOM ports found on the machine: 1", ">>>", "Open VCOM0",
                                "FTDI DRIVER version -> 10000", "PROG version FW -> NPCE_V1.7"}));
}

TEST(Cli, ConnectionTestFailsWhenNoProgrammerAnswers) {
    const auto r = cli({"--port", "/nonexistent/ttyUSB9", "test-connect"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines(), (Lines{"", "Port /nonexistent/ttyUSB9 (--port) does not exist.", std::string(kj::kNoPortLine),
                                std::string(kj::kNoPortFix)}));
}

// Paths an image or a base cannot be: each is refused with the path and the
// reason, never an endless wait on a FIFO and never an abort.
TEST(Cli, PathsThatAreNoFilesAreRefusedWithTheirReason) {
    kjtest::ScratchDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string loop = dir.file("loop");
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    const std::string tooLong = dir.file(std::string(300, 'x'));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string said;
    };
    const std::vector<Case> cases = {
        {{"--simulate", "kb90xx", "write", "--input", fifo}, 2, fifo + ": is a FIFO, not an image file"},
        {{"edid", "decode", fifo}, 1, fifo + ": is a FIFO, not an image file"},
        {{"kb90xx", "cable", "--base", fifo, "--list"}, 1, fifo + ": is a FIFO, not an image file"},
        {{"kb90xx", "cable", "--base", dir.path().string(), "--list"}, 1, ": is a directory"},
        {{"kb90xx", "cable", "--base", "/dev/zero", "--list"}, 1, "/dev/zero: is a device, not an image file"},
        {{"--simulate", "kb90xx", "read", "--output", fifo + "/x"}, 2, "Not a directory"},
        {{"--simulate", "kb90xx", "read", "--output", loop + "/x"}, 2, "Too many levels of symbolic links"},
        {{"--simulate", "kb90xx", "read", "--output", tooLong}, 2, "File name too long"},
        {{"--simulate", "kb90xx", "read", "--output", dir.path().string()}, 2, ": is a directory"},
    };
    for (const auto& c : cases) {
        const auto r = cli(c.args);
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
}
