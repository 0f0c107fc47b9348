// korvel-cli mec16: Ctrl-C and help in-process, and the built command against
// korvel-progsim's V42 programmer on a pseudo-terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "console/console.h"
#include "mec16_fixture.h"
#include "sim/mec16_chip.h"
#include "sim/sim_bridge.h"
#include "support/cli_support.h"
#include "support/process.h"

namespace kjtest {
namespace {

class Mec16Cli : public ::testing::Test, private InterruptHandlers {
protected:
    Mec16Cli() : bench_(kjsim::makeBench(mec16Bench())), slot_(kjsim::SimSlot::programmer(bench_.programmer)) {}

    CliRun run(const std::string& action, std::vector<std::string> args) {
        kj::cli::Context context{[this](std::string_view) -> std::unique_ptr<kj::Bridge> {
                                     ++bridges_;
                                     return std::make_unique<kjsim::SimBridge>(std::vector{slot_});
                                 },
                                 ui_};
        return runTool(*kj::cli::toolNamed("mec16"), context, action, std::move(args));
    }

    ScratchDir dir_;
    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    InterruptingFrontend ui_;
    int bridges_ = 0;
};

TEST_F(Mec16Cli, HelpNeedsNoProgrammer) {
    const CliRun r = run("help", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 16u);
    EXPECT_EQ(r.out.front(), "Распиновка для расширенной версии (PCB2):");
    EXPECT_EQ(bridges_, 0);
}

// Ctrl-C at block 10: a read stops and keeps its blocks, a write runs to its end.
TEST_F(Mec16Cli, CtrlCStopsAReadButNotAWrite) {
    ui_.atProgress = 10;
    const std::string path = dir_.file("m.bin");
    CliRun r = run("read", {"--output", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        tail(r.out, 8),
        join({{"Пользователь прервал операцию чтения."}, kClosingLines, kEndLines, {"FAILED: чтение не удалось"}}));
    const Bytes main = bench_.chip<kjsim::Mec16Chip>().main();
    EXPECT_EQ(readFile(path), Bytes(main.begin(), main.begin() + 10 * 1024));

    const Bytes image = randomImage(kMain, 7);
    writeFile(path, image);
    bench_.chip<kjsim::Mec16Chip>().setFlash(Bytes(kMain + kInfo, 0xFF));
    kj::cli::installInterruptHandlers();  // a new command: no Ctrl-C counted yet
    ui_.onlyIn = kj::Phase::Write;        // not in the reads around it
    r = run("write", {"--input", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("the write runs to its end"), std::string::npos) << r.err;
    EXPECT_EQ(bench_.chip<kjsim::Mec16Chip>().main(), image);
    EXPECT_EQ(bench_.programmer->endBytes(), "0OI0I0I0");  // the stop; the blank check, the write, the read-back
}

// The technician's round: check, back up MAIN and INFO, erase, write it back.
TEST(Mec16CliProgram, CheckReadEraseAndWriteThroughTheSimulatorsPort) {
    Server sim({KJ_PROGSIM, "--family", "V42"});
    const std::string line = sim.readLine();
    ASSERT_EQ(line.rfind("PORT ", 0), 0u) << line;
    const std::string port = line.substr(5);
    ScratchDir dir;
    const std::string image = dir.file("m.bin");

    auto check = runCommand({KJ_CLI, "--port", port, "mec16", "check"});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.lines().at(3), kIdLine);

    auto read = runCommand({KJ_CLI, "--port", port, "mec16", "read", "--info", "--output", image});
    EXPECT_EQ(read.status, 0) << read.err;
    const Bytes backup = readFile(image);
    EXPECT_EQ(backup.size(), kMain + kInfo);

    auto erase = runCommand({KJ_CLI, "--port", port, "mec16", "erase"});
    EXPECT_EQ(erase.status, 0) << erase.err;
    auto write = runCommand({KJ_CLI, "--port", port, "mec16", "write", "--input", image});
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(
        tail(write.lines(), 2),
        (Lines{doneLine("Проверка", Bytes(backup.begin(), backup.begin() + kMain), ": готово, ", " байт"), "PASSED"}));
    const std::string again = dir.file("again.bin");
    read = runCommand({KJ_CLI, "--port", port, "mec16", "read", "--output", again});
    EXPECT_EQ(readFile(again), Bytes(backup.begin(), backup.begin() + kMain)) << "written back whole";
}

}  // namespace
}  // namespace kjtest
