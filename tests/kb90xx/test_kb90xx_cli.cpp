// korvel-cli kb90xx against the simulated controller: what a technician sees on
// standard output, the exit status, the files, Ctrl-C, and the cable help.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "console/console.h"
#include "kb90xx_fixture.h"
#include "sim/kb90xx_chip.h"
#include "sim/sim_bridge.h"
#include "support/cli_support.h"
#include "support/recording_frontend.h"

namespace kjtest {
namespace {

using kj::cli::UsageError;

class Kb90xxCli : public ::testing::Test, private InterruptHandlers {
protected:
    Kb90xxCli() : bench_(kjsim::makeBench({})), slot_(kjsim::SimSlot::programmer(bench_.programmer)) {}

    CliRun run(const std::string& action, std::vector<std::string> args) {
        kj::cli::Context context{kjsim::bridgesTo(slot_), ui_};
        return runTool(*kj::cli::toolNamed("kb90xx"), context, action, std::move(args));
    }

    std::string writeBase(const std::string& text) {
        const std::string path = dir_.file("base.txt");
        writeFile(path, Bytes(text.begin(), text.end()));
        return path;
    }

    ScratchDir dir_;
    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    InterruptingFrontend ui_;
};

TEST_F(Kb90xxCli, ReadPrintsTheWindowsLinesAndSavesTheFlash) {
    const std::string path = dir_.file("flash.bin");
    const CliRun r = run("read", {"--output", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, join({kStartLines,
                           {"Save the file: ", path, "Reading KB9012 ...", kStamp, "Reading completed successfully.",
                            kStamp, imageLine("Read", bench_.chip<kjsim::Kb90xxChip>().flash()), "PASSED"}}));
    EXPECT_EQ(readFile(path), bench_.chip<kjsim::Kb90xxChip>().flash());
    EXPECT_EQ(slot_->written(), readTranscript());
}

TEST_F(Kb90xxCli, ExistingOutputIsReplacedOnlyWithForce) {
    const std::string path = dir_.file("flash.bin");
    writeFile(path, Bytes(10, 0x11));
    EXPECT_THROW(run("read", {"--output", path}), UsageError);
    EXPECT_TRUE(slot_->written().empty());  // refused before the link was opened
    EXPECT_EQ(run("read", {"--output", path, "--force"}).status, 0);
    EXPECT_EQ(readFile(path), bench_.chip<kjsim::Kb90xxChip>().flash());
}

TEST_F(Kb90xxCli, WriteVerifiesAndReportsTheResultInTheExitStatus) {
    const Bytes image = randomImage(kImage, 21);
    const std::string path = dir_.file("image.bin");
    writeFile(path, image);
    CliRun r = run("write", {"--input", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bench_.chip<kjsim::Kb90xxChip>().flash(), image);
    EXPECT_EQ(tail(r.out, 5), (Lines{"Writing and verify is OK !", kStamp, "Read-back: reading the chip ...",
                                     doneLine("Read-back", image), "PASSED"}));

    // The chip's own sums say only that it is wrong; the read-back says where.
    bench_.chip<kjsim::Kb90xxChip>().corruptWriteAt = 5;
    r = run("write", {"--input", path});
    EXPECT_EQ(r.status, 1);
    const Lines out = r.out;
    EXPECT_NE(std::find(out.begin(), out.end(), "!!! Data is written incorrectly !!! "), out.end());
    EXPECT_EQ(out.back(), "FAILED: the chip differs from the file at 0x00005; bytes that differ: 1");

    EXPECT_THROW(run("write", {"--input", dir_.file("missing.bin")}), UsageError);
    EXPECT_THROW(run("write", {}), UsageError);
    EXPECT_THROW(run("write", {"--input", path, "--verbose"}), UsageError);
}

TEST_F(Kb90xxCli, CtrlCEndsTheReadCleanly) {
    ui_.atProgress = 10 * 64;
    const std::string path = dir_.file("flash.bin");
    const CliRun r = run("read", {"--output", path});
    EXPECT_EQ(r.status, 1);
    ASSERT_GE(r.out.size(), 3u);
    EXPECT_EQ(tail(r.out, 4),
              (Lines{"Operation is stopped.", "The incomplete file is deleted.", kStamp, "FAILED: the read failed"}));
    EXPECT_FALSE(fs::exists(path));
    const Bytes sent = slot_->written();
    EXPECT_EQ(sent.back(), 'O');
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'N'), 10);
    EXPECT_EQ(bench_.programmer->endBytes(), "O");
    EXPECT_FALSE(slot_->isOpen());
}

// A write takes Ctrl-C as every write does: the first one warns and the write
// runs on to its verification; a second one abandons it, and the log says that
// the flash must be written again. (No backup: the presses land in the write.)
TEST_F(Kb90xxCli, CtrlCWarnsOnceAndASecondOneAbandonsTheWrite) {
    const Bytes image = randomImage(kImage, 22);
    const std::string path = dir_.file("image.bin");
    writeFile(path, image);
    ui_.atProgress = 10 * 64;
    CliRun r = run("write", {"--input", path, "--no-backup"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("the write runs to its end; press Ctrl-C again to abandon it"), std::string::npos) << r.err;
    EXPECT_EQ(bench_.chip<kjsim::Kb90xxChip>().flash(), image);

    kj::cli::installInterruptHandlers();  // a new command: no Ctrl-C counted yet
    ui_.againAtProgress = 20 * 64;
    r = run("write", {"--input", path, "--no-backup"});
    EXPECT_EQ(r.status, 1);
    ASSERT_GE(r.out.size(), 3u);
    EXPECT_EQ(tail(r.out, 4), (Lines{"Operation is stopped.", "The KB90XX flash is left incomplete: write it again.",
                                     kStamp, "FAILED: the write failed"}));
    EXPECT_EQ(slot_->written().back(), 'O');
    EXPECT_FALSE(slot_->isOpen());
}

TEST_F(Kb90xxCli, CablePrintsTheHelpLine) {
    const std::string base =
        writeBase("Плата KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=16\r\n\nMB KSO3=5, KSI4=1 KSI7=1 KSI6=1 KSI5=1\nlast");
    CliRun r = run("cable", {"--base", base, "--board", "1", "--ffc", "24"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Lines{"Please connect GND and:  A5 B12 C14 D15 E16"});
    r = run("cable", {"--base", base, "--board", "1", "--ffc", "24", "--reversed"});
    EXPECT_EQ(r.out, Lines{"Please connect GND and:  A20 B13 C11 D10 E9"});
    r = run("cable", {"--base", base, "--board", "1", "--ffc", "18", "--reversed"});
    EXPECT_EQ(r.out, Lines{"Please connect GND and:  A14 B7 C5 D4 E3"});

    r = run("cable", {"--base", base, "--board", "2", "--ffc", "24"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Lines{"Error data format!"});
    r = run("cable", {"--base", base, "--board", "3", "--ffc", "24"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err,
              "korvel-cli: board 3: MB KSO3=5, KSI4=1 KSI7=1 KSI6=1 KSI5=1\n"
              "korvel-cli: error: '5,' is not a valid pin number (KSO3=)\n");
    r = run("cable", {"--base", dir_.file("none.txt"), "--board", "1", "--ffc", "24"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Lines{"Create base of connections KB90XX !"});
    EXPECT_TRUE(slot_->written().empty());  // the cable help never talks to the programmer
}

TEST_F(Kb90xxCli, CableOptionsAreChecked) {
    const std::string base = writeBase("KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=20\nlast");
    CliRun r = run("cable", {"--base", base, "--board", "1", "--ffc", "18"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Lines{"Please select big pins FFC!"});
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--base", base, "--board", "2", "--ffc", "24"},  // only one line is listed
             {"--base", base, "--board", "0", "--ffc", "24"},
             {"--base", base, "--board", "1", "--ffc", "23"},  // no such cable
             {"--base", base, "--board", "1"},
             {"--base", base, "--ffc", "24"},
             {"--base", base, "--board", "1", "--ffc", "24", "--force"}}) {
        EXPECT_THROW(run("cable", args), UsageError) << testing::PrintToString(args);
    }
}

}  // namespace
}  // namespace kjtest
