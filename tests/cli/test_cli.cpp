// korvel-cli as a user runs it: exit codes, usage errors, and the connection
// test against the in-process simulator and through a real pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "link/port_list.h"
#include "support/process.h"
#include "support/scratch.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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
    // A misspelt option is named as such, not taken for a missing one.
    const auto misspelt = cli({"--simulate", "kb90xx", "read", "--outptu", "x.bin"});
    EXPECT_EQ(misspelt.status, 2);
    EXPECT_EQ(misspelt.err.rfind("korvel-cli: unknown option \"--outptu\"; did you mean \"--output\"?\n", 0), 0u)
        << misspelt.err;
    const auto toolHelp = cli({"kb90xx", "--help"});
    EXPECT_EQ(toolHelp.status, 0);
    EXPECT_NE(toolHelp.out.find("korvel-cli kb90xx cable"), std::string::npos);
    EXPECT_NE(cli({"--help"}).out.find("--version"), std::string::npos);
}

TEST(Cli, ConnectionTestOnTheSimulatorPrintsTheWindowsLines) {
    const auto r = cli({"--simulate", "test-connect"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines(), (Lines{"", "Number of VCOM ports found on the machine: 1", ">>>", "Open VCOM0",
                                "FTDI DRIVER version -> 2.12.24", "PROG version FW -> V41"}));
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
                                "FTDI DRIVER version -> 1.00.00", "PROG version FW -> NPCE_V1.7"}));
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

// The wire trace a user attaches to a report: the handshake's bytes each way,
// every byte of the image, and the log lines between them, in time order.
TEST(Cli, TraceRecordsTheWireAndTheLogInTimeOrder) {
    kjtest::ScratchDir dir;
    const std::string trace = dir.file("t.txt");
    const auto r = cli({"--trace", trace, "--simulate", "kb90xx", "read", "--output", dir.file("r.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(kjtest::slurp(trace));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line.rfind("# korvel-jig wire trace", 0), 0u) << line;
    Lines to, from, logged;
    size_t imageBytes = 0;
    double last = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        double stamp = -1;
        std::string what;
        fields >> stamp >> what;
        EXPECT_GE(stamp, last) << line;
        last = stamp;
        const std::string rest = line.substr(line.find(what) + what.size());
        if (what == "log") {
            logged.push_back(rest.substr(1));
            continue;
        }
        std::string direction;
        fields >> direction;
        const std::string bytes = rest.substr(rest.find(direction) + direction.size());
        (direction == "->" ? to : from).push_back(bytes);
        if (direction == "<-") imageBytes += bytes.size() / 3;
    }
    ASSERT_FALSE(to.empty());
    ASSERT_FALSE(from.empty());
    EXPECT_EQ(to.front(), " 42");          // 'B'
    EXPECT_EQ(from.front(), " 56 34 31");  // "V41"
    EXPECT_GE(imageBytes, 131072u);
    EXPECT_EQ(logged, r.lines()) << "the trace holds the log lines as the command printed them";
}

namespace {
std::string portOf(kjtest::Server& sim) {
    const std::string line = sim.readLine();
    return line.rfind("PORT ", 0) == 0 ? line.substr(5) : std::string();
}
}  // namespace

// No device becomes the image by accident: a disk and a terminal (the
// programmer's port among them) never, another device only with --force; each
// refusal names its reason before any link opens.
TEST(Cli, DevicesAreOutputsOnlyWhenForcedAndDisksAndTerminalsNever) {
    kjtest::ScratchDir dir;
    kjtest::Server sim({KJ_PROGSIM});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    struct Case {
        std::vector<std::string> output;
        std::string said;
    };
    std::vector<Case> cases = {
        {{"/dev/null"}, "/dev/null: is a device, not an image file; add --force to write to it"},
        {{port, "--force"}, port + ": is a terminal, not an image file"},
    };
    // A disk, through a symlink, where the machine shows one.
    for (const auto& entry : std::filesystem::directory_iterator("/dev")) {
        if (!entry.is_block_file()) continue;
        const std::string disk = dir.file("disk");
        ASSERT_EQ(::symlink(entry.path().c_str(), disk.c_str()), 0);
        cases.push_back({{disk, "--force"}, disk + ": is a block device; an image is never written to a disk"});
        break;
    }
    for (const auto& c : cases) {
        std::vector<std::string> args{"--port", port, "kb90xx", "read", "--output"};
        args.insert(args.end(), c.output.begin(), c.output.end());
        const auto r = cli(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "") << "refused before the link opened";
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
    const auto forced = cli({"--port", port, "kb90xx", "read", "--output", "/dev/null", "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
}

// Names as long as the file system allows, counted in bytes, are read into
// whole: 255 Latin letters replacing a file, 121 Cyrillic ones new. Nothing
// else is left in the folder.
TEST(Cli, NamesUpToTheLimitAreReadIntoWhole) {
    kjtest::ScratchDir dir;
    const std::string latin = dir.file(std::string(255, 'x'));
    kjtest::writeFile(latin, {1, 2, 3});
    std::string cyrillicName;
    for (int i = 0; i < 121; ++i) cyrillicName += "ж";
    const std::string cyrillic = dir.file(cyrillicName);
    for (const auto& path : {latin, cyrillic}) {
        const auto r = cli({"--simulate", "kb90xx", "read", "--output", path, "--force"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(kjtest::readFile(path).size(), 131072u);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// Once under way, a write outlives the reader of its output going away
// (| head) and the terminal closing (SIGHUP): it runs to its verified end, as
// the flash read back afterwards shows.
TEST(Cli, AWriteRunsToItsEndWhenItsOutputIsGoneAndItsTerminalHangsUp) {
    kjtest::ScratchDir dir;
    kjtest::Server sim({KJ_PROGSIM, "--pace"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    std::vector<uint8_t> image(131072);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const std::string input = dir.file("image.bin");
    kjtest::writeFile(input, image);

    kjtest::Server write({KJ_CLI, "--port", port, "kb90xx", "write", "--input", input});
    EXPECT_EQ(write.readLine().rfind("File: 131072 bytes, CRC32 ", 0), 0u);
    for (std::string line; (line = write.readLine()) != "There is a writing KB901X...";)
        ASSERT_FALSE(line.empty()) << "the write never began";
    write.closeOutput();
    write.signal(SIGHUP);
    EXPECT_EQ(write.reap(std::chrono::seconds(60)), 0);

    const std::string back = dir.file("back.bin");
    const auto read = cli({"--port", port, "kb90xx", "read", "--output", back});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(kjtest::readFile(back), image);
}

// Standard input is read up to the limit and no further (cat /dev/zero), and
// Ctrl-C ends a command that runs no operation, as a shell expects.
TEST(Cli, DecodeReadsStandardInputWithinItsLimitAndCtrlCEndsIt) {
    const auto zeros = runCommand({KJ_CLI, "edid", "decode", "-"}, "/dev/zero");
    EXPECT_EQ(zeros.status, 1);
    EXPECT_NE(zeros.err.find("holds no EDID header"), std::string::npos) << zeros.err;

    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    kjtest::Server decode({KJ_CLI, "edid", "decode", "-"}, input[0]);
    ::close(input[0]);
    ASSERT_TRUE(decode.awaitHandler(SIGINT));
    decode.signal(SIGINT);
    EXPECT_EQ(decode.reap(), 128 + SIGINT);
    ::close(input[1]);
}

// A technician's record: a write backs the chip up first, a verify against a
// changed file fails naming the first bad address, and the day's log file holds
// the commands, the port, the fingerprints and both verdicts.
TEST(Cli, AWriteIsBackedUpAVerifyNamesTheAddressAndTheRecordKeepsBoth) {
    kjtest::ScratchDir dir;
    kjtest::DataHome home(dir.path());
    kjtest::Server sim({KJ_PROGSIM});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    std::vector<uint8_t> image(131072);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + i / 509);
    const std::string input = dir.file("image.bin");
    kjtest::writeFile(input, image);

    const auto write = cli({"--port", port, "kb90xx", "write", "--input", input});
    EXPECT_EQ(write.status, 0) << write.err;
    const auto backups = dir.path() / "korvel-jig" / "backups" / "kb90xx";
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(backups), {}), 1);
    const auto backup = std::filesystem::directory_iterator(backups)->path();
    EXPECT_NE(write.out.find("Backup of the chip: " + backup.string()), std::string::npos);

    image[0x2A51] ^= 0x5A;
    kjtest::writeFile(input, image);
    const auto verify = cli({"--port", port, "kb90xx", "verify", "--input", input});
    EXPECT_EQ(verify.status, 1);
    const std::string failed = "FAILED: the chip differs from the file at 0x02A51; bytes that differ: 1";
    EXPECT_NE(verify.out.find(failed + "\n"), std::string::npos) << verify.out;

    const auto logs = dir.path() / "korvel-jig" / "logs";
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(logs), {}), 1);
    const auto logFile = std::filesystem::directory_iterator(logs)->path();
    EXPECT_TRUE(std::regex_match(logFile.filename().string(), std::regex(R"(\d{4}-\d{2}-\d{2}\.log)")));
    const auto bytes = kjtest::readFile(logFile.string());
    const std::string log(bytes.begin(), bytes.end());
    for (const std::string& line :
         {std::string("kb90xx | korvel-cli kb90xx write --input ") + input, "kb90xx | port " + port,
          std::string("kb90xx | PASSED"), "kb90xx | Backup of the chip: " + backup.string(), "kb90xx | " + failed}) {
        EXPECT_NE(log.find(line + "\n"), std::string::npos) << line;
    }
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} kb90xx \| )")));
}

// --backup FILE is held to what an --output is held to, and is never the
// file being written, by whatever name: refused before the link opens.
TEST(Cli, ABackupFileIsCheckedLikeAnOutputAndIsNeverTheInput) {
    kjtest::ScratchDir dir;
    kjtest::DataHome home(dir.path());
    const std::string input = dir.file("image.bin");
    std::vector<uint8_t> image(131072, 0x5A);
    image[7] = 0;
    kjtest::writeFile(input, image);
    const std::string earlier = dir.file("board-dump.bin");
    kjtest::writeFile(earlier, {1, 2, 3});
    const std::string alias = dir.file("alias.bin");
    std::filesystem::create_symlink(input, alias);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [backup, says] :
         std::vector<std::pair<std::string, std::string>>{{earlier, "exists; add --force to replace it"},
                                                          {alias, "is the file to write"},
                                                          {"/dev/null", "add --force to write to it"},
                                                          {fifo, "add --force to write to it"}}) {
        const auto r = cli({"--simulate", "kb90xx", "write", "--input", input, "--backup", backup});
        EXPECT_EQ(r.status, 2) << backup;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << "refused before the link opens";
    }
    EXPECT_EQ(kjtest::readFile(earlier), (std::vector<uint8_t>{1, 2, 3}));
    const auto forced = cli({"--simulate", "kb90xx", "write", "--input", input, "--backup", earlier, "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(kjtest::readFile(earlier).size(), 131072u) << "the chip as it was, replacing the file asked to";
}

// Until the first command that changes the chip, the first Ctrl-C stops a
// write at once: nothing written, no backup left in part, a failure said.
TEST(Cli, TheFirstCtrlCBeforeTheChipIsTouchedStopsTheWrite) {
    kjtest::ScratchDir dir;
    kjtest::DataHome home(dir.path());
    kjtest::Server sim({KJ_PROGSIM, "--pace"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    const std::string before = dir.file("before.bin");
    ASSERT_EQ(cli({"--port", port, "kb90xx", "read", "--output", before}).status, 0);
    const std::string input = dir.file("image.bin");
    std::vector<uint8_t> image(131072, 0x5A);
    image[7] = 0;
    kjtest::writeFile(input, image);

    kjtest::Server write({KJ_CLI, "--port", port, "kb90xx", "write", "--input", input});
    Lines out;
    for (std::string line; (line = write.readLine()) != "Backup: reading the chip ...";) {
        ASSERT_FALSE(line.empty()) << "no backup began";
    }
    write.signal(SIGINT);
    const std::string rest = write.rest();
    EXPECT_EQ(write.reap(std::chrono::seconds(30)), 1);
    std::istringstream lines(rest);
    for (std::string line; std::getline(lines, line);) out.push_back(line);
    EXPECT_NE(std::find(out.begin(), out.end(), "Stopped: nothing was written or erased."), out.end())
        << testing::PrintToString(out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), "FAILED: stopped by the user; nothing was written or erased");
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "korvel-jig" / "backups" / "kb90xx", ec) || ec)
        << "no backup in part";
    const std::string after = dir.file("after.bin");
    ASSERT_EQ(cli({"--port", port, "kb90xx", "read", "--output", after}).status, 0);
    EXPECT_EQ(kjtest::readFile(after), kjtest::readFile(before));
}

// A tool whose lines are English says its error boxes in English too.
TEST(Cli, AnEnglishToolSaysItsErrorBoxInEnglish) {
    const auto r = cli({"--simulate", "kb90xx", "read", "--output", "/dev/full", "--force"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("korvel-cli: error: Error writing the file."), std::string::npos) << r.err;
}

// The habits a technician brings along: flashrom's short forms, a wrong-size
// image behind --force, an option spelt the short way, and a simulated chip
// that keeps what was written into it from one run to the next.
TEST(Cli, ShortFormsGatesAndAKeptSimulatorChipWorkAsAtTheBench) {
    kjtest::ScratchDir dir;
    kjtest::DataHome home(dir.path());
    std::vector<uint8_t> image(131072);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 311);
    const std::string input = dir.file("image.bin");
    kjtest::writeFile(input, image);

    const auto write = cli({"--simulate", "kb90xx", "-w", input});
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_NE(write.out.find("\nPASSED\n"), std::string::npos) << write.out;
    const auto verify = cli({"--simulate", "kb90xx", "-v", input});  // another process: the chip was kept
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(cli({"--simulate=fresh", "kb90xx", "-v", input}).status, 1);
    const std::string output = dir.file("read.bin");
    EXPECT_EQ(cli({"--simulate=fresh", "kb90xx", "-r", output}).status, 0);
    EXPECT_EQ(cli({"--simulate", "kb90xx", "verify", "--input", output}).status, 0) << "fresh is kept too";

    const auto shortOutput = cli({"--simulate", "kb90xx", "read", "-o", dir.file("x.bin")});
    EXPECT_EQ(shortOutput.status, 2);
    EXPECT_EQ(shortOutput.err.rfind("korvel-cli: unknown option \"-o\"; did you mean \"--output\"?\n", 0), 0u)
        << shortOutput.err;

    const std::string small = dir.file("small.bin");
    kjtest::writeFile(small, std::vector<uint8_t>(image.begin(), image.begin() + 1000));
    const auto refused = cli({"--simulate", "kb90xx", "write", "--input", small});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--any-size"), std::string::npos) << refused.err;
    const auto forced = cli({"--simulate", "kb90xx", "write", "--input", small, "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.err.find("note: --force here stands for --any-size"), std::string::npos) << forced.err;
}
