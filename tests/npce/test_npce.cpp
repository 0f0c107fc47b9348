// The NPCE read and write against the simulated controller: the bytes on the
// wire, the file, the log, the gauge and the end bytes at the programmer.
#include <gtest/gtest.h>

#include "npce_fixture.h"
#include "sim/npce_chip.h"
#include "support/operation_contract.h"

namespace kjtest {

// Replies: 'B', 'Z', the answer to 'I', then one per block.
INSTANTIATE_TEST_SUITE_P(Npce, OperationContract,
                         ::testing::Values(ContractFamily{
                             .name = "npce",
                             .firmware = "NPCE",
                             .make = [](kj::Bridge& bridge, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
                                 return kj::makeImageTool(kj::npce::kFamily, bridge, ui);
                             },
                             .image = [](const kjsim::Bench& bench) { return bench.chip<kjsim::NpceChip>().flash(); },
                             .readBlockStep = [](int n) { return n + 3; },
                             .readReplies = 3 + 256 + 2,  // the end report and the answer to 'I'
                             .failureEnd = "O",
                         }));

namespace {

constexpr uint8_t kWriteEnd = 0x07;
constexpr char kIncomplete[] = "The NPCE flash is left incomplete: write it again.";
// Replies: 'B', 'Z', 'I', 'e', 'x', then a request and a status per write block.
constexpr int statusStep(int block) { return 5 + 2 * block; }

class NpceOperation : public ::testing::Test, protected Rig {
protected:
    NpceOperation() : Rig({.family = "NPCE"}), tool_(*bridge, ui, kj::npce::kFamily) {}

    kjsim::NpceChip& chip() { return bench.chip<kjsim::NpceChip>(); }
    kj::Operation& op() { return tool_.operation(); }
    // A fresh record and log, and the faults of the next run.
    void again(const kjsim::NpceFaults& chipFaults, const kjsim::Faults& wireFaults = {}) {
        slot().clearRecord();
        ui.clearLog();
        chip().setFaults(chipFaults);
        faults() = wireFaults;
        // Short bounds only where the programmer is made to stay silent.
        op().link().timeouts =
            wireFaults.silentFromStep || wireFaults.shortReplyAt ? kShortTimeouts : kj::LinkTimeouts{};
    }
    void read(const std::string& path) {
        ui.chooseNext(path);
        tool_.startRead();
        waitIdle(op());
        expectEnded(op());
    }
    // Writes `file`; the chip starts out holding another image.
    std::string write(const Bytes& file) {
        chip().setFlash(npceRandomImage(kNpceImage, 99));
        const std::string path = dir.file("image.bin");
        writeFile(path, file);
        ui.chooseNext(path);
        tool_.startWrite();
        waitIdle(op());
        expectEnded(op());
        return path;
    }
    // The whole write stream of `image` and the end of the read-back after `blocks` blocks.
    static Bytes writtenAndVerified(const Bytes& image, int blocks, uint8_t end) {
        Bytes t = npceWriteStream(image, 512);
        t.push_back(kWriteEnd);
        return npceReadBack(t, blocks, end);
    }

    kj::ImageTool tool_;
};

// ---- read ----

TEST_F(NpceOperation, ReadStoresTheFlashWithTheWindowsLinesAndGauge) {
    const std::string path = dir.file("flash.bin");
    read(path);

    EXPECT_EQ(wire(), npceReadBack(npceOpening(), 256, 'I'));
    EXPECT_EQ(readFile(path), chip().flash());
    EXPECT_EQ(log(), npceReadLines(path));
    EXPECT_EQ(endBytes(), "II");
    EXPECT_TRUE(op().lastSucceeded());
    EXPECT_EQ(ui.events(), (Lines{"started Reading_NPCE", "ended"}));
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kLime});
    std::vector<int> progress{0};
    for (int block = 1; block <= 256; ++block) progress.push_back(2 * block);
    EXPECT_EQ(ui.progress(), progress);
    EXPECT_EQ(ui.maximum(), 512);
    ASSERT_EQ(ui.dialogs().size(), 1u);
    EXPECT_EQ(ui.dialogs()[0].title, "Укажите имя файла для сохранения.");
    EXPECT_EQ(ui.dialogs()[0].filter, "BIN файл NPCE (*.bin)|*.bin");
}

// Any first byte but 0 is a good read; a bad or missing report keeps no file.
TEST_F(NpceOperation, TheEndReportDecidesWhetherTheReadIsKept) {
    const std::string path = dir.file("flash.bin");
    again({.endReportFirst = 2});
    read(path);
    EXPECT_EQ(readFile(path), chip().flash());

    // Silent: the report never comes, and the last block (first byte 0xFE) must not stand in for it.
    for (const bool silent : {false, true}) {
        fs::remove(path);
        again({.endReportFirst = silent ? -1 : 0}, {.silentFromStep = silent ? 3 + 256 + 1 : 0});
        read(path);
        EXPECT_EQ(wire(), npceReadBack(npceOpening(), 256, 'O')) << silent;
        EXPECT_EQ(log(), join({npceReadLines(path),
                               {"ERROR timeout. Corrupted data !? ", "The incomplete file is deleted."}}));
        EXPECT_TRUE(files().empty()) << silent;
        EXPECT_FALSE(op().lastSucceeded());
    }
    EXPECT_EQ(endBytes(),
              "II"
              "IO"
              "IO");
}

TEST_F(NpceOperation, AnotherFlashIdIsRefusedWithTheFailureByte) {
    again({.id = {0xEF, 0x40, 0x13, 0x00}});
    tool_.startRead();  // refused before a file is asked for
    waitIdle(op());
    write(npceRandomImage(kNpceImage, 1));

    const Lines refused = join({Lines(kNpceStartLines.begin(), kNpceStartLines.end() - 2),
                                {"No connection to the NPCE!", "Check soldering NPCE or chip damaged."}});
    EXPECT_EQ(log(), join({refused, refused}));
    EXPECT_EQ(wire(), (Bytes{'B', 'Z', 'O', 'B', 'Z', 'O'}));
    EXPECT_EQ(endBytes(), "OO");
    EXPECT_EQ(ui.dialogs().size(), 1u) << "the write's file is asked for before the link opens";
    EXPECT_TRUE(ui.events().empty());
}

// ---- write ----

// A short file is written padded with 0xFF, a long one cut, each once the user
// has said yes; the whole flash is read back.
TEST_F(NpceOperation, WriteProgramsEveryBlockAndVerifiesTheWholeFlash) {
    for (const size_t size : {size_t{1000}, kNpceImage, kNpceImage + 1000}) {
        SCOPED_TRACE(size);
        again({});
        const Bytes file = npceRandomImage(size, static_cast<unsigned>(size));
        const size_t questions = ui.questions().size();
        const std::string path = write(file);

        Bytes image(kNpceImage, 0xFF);
        std::copy_n(file.begin(), std::min(size, kNpceImage), image.begin());
        EXPECT_EQ(chip().flash(), image);
        EXPECT_EQ(wire(), writtenAndVerified(image, 256, 'I'));
        EXPECT_EQ(log(),
                  join({npceWriteLines(path), {"Verify ...", "Nuvoton chip is programmed succesfully!", kStamp}}));
        EXPECT_EQ(ui.questions().size(), questions + (size == kNpceImage ? 0 : 1));
        EXPECT_TRUE(op().lastSucceeded());
    }
    EXPECT_EQ(ui.questions().front(),
              dir.file("image.bin") + "\nThe file holds 1000 bytes; the chip's flash holds 131072. Write it anyway?");
    EXPECT_EQ(endBytes(),
              "II"
              "II"
              "II");
    EXPECT_EQ(ui.colours(),
              (std::vector<kj::Rgb>{kj::kRed, kj::kYellow, kj::kRed, kj::kYellow, kj::kRed, kj::kYellow}));
    std::vector<int> last{0};
    for (int block = 1; block <= 512; ++block) last.push_back(block);
    last.push_back(0);
    for (int block = 1; block <= 256; ++block) last.push_back(2 * block);
    const auto progress = ui.progress();
    EXPECT_EQ(std::vector<int>(progress.end() - static_cast<std::ptrdiff_t>(last.size()), progress.end()), last);
}

// A difference stops the read-back right after its block; a report that is
// not 1 fails a verification even where it would pass a read; a block that
// comes short is said and counts as a difference.
TEST_F(NpceOperation, TheVerificationFailsOnADifferenceAReportOtherThanOneOrAShortBlock) {
    const Bytes image = npceRandomImage(kNpceImage, 7);
    const std::string verify = "Verify ...";
    again({.corruptByteAt = 2 * kNpceReadBlock + 100});  // in verify block 3
    std::string path = write(image);
    EXPECT_EQ(wire(), writtenAndVerified(image, 3, 'O'));
    EXPECT_EQ(log(), join({npceWriteLines(path), {verify, "*** Data is written incorrectly ***", kStamp}}));
    EXPECT_EQ(ui.progress().back(), 6);

    again({.endReportFirst = 2});
    path = write(image);
    EXPECT_EQ(chip().flash(), image);
    EXPECT_EQ(wire(), writtenAndVerified(image, 256, 'O'));
    EXPECT_EQ(log(), join({npceWriteLines(path), {verify, "ERROR timeout. Corrupted data !? ", kStamp}}));

    again({}, {.shortReplyAt = statusStep(512) + 3});  // after the answer to 0x07 and block 1
    path = write(image);
    EXPECT_EQ(wire(), writtenAndVerified(image, 2, 'O'));
    EXPECT_EQ(log(), join({npceWriteLines(path),
                           {verify, "Принято не 512 байт  511", "*** Data is written incorrectly ***", kStamp}}));
    EXPECT_EQ(endBytes(),
              "IO"
              "IO"
              "IO");
    EXPECT_FALSE(op().lastSucceeded());
}

// From the erase on, a failure says that the flash must be written again, and
// ends as the Part ends that step: 'O', no end byte after a bad request, 0x07
// after a failed or missing status.
TEST_F(NpceOperation, AWriteThatFailsBeforeItsLastBlockEndsAsItsStepDoes) {
    const Bytes image = npceRandomImage(kNpceImage, 5);
    const auto stream = [&](int blocks, uint8_t last) { return then(npceWriteStream(image, blocks), {last}); };
    const Lines checked{"Check clear data ...", "All data is clear!", "Write ..."};
    struct Case {
        kjsim::NpceFaults chipFaults;
        kjsim::Faults wireFaults;
        Bytes wire;
        Lines lines;  // after "Erase ..."
    };
    const Case cases[] = {
        {{.eraseFails = true},
         {},
         then(npceOpening(), {'e', 'O'}),
         {"** Lost contact with the chip or ERROR timeout **"}},
        {{.blankCheckFails = true},
         {},
         then(npceOpening(), {'e', 'x', 'O'}),
         {"Check clear data ...", "** Data not clear !**"}},
        {{.badRequestAtBlock = 4}, {}, stream(3, 'w'), join({checked, {"** HOST/Q17 Protocol ERROR **"}})},
        {{.failedBlock = 4}, {}, stream(4, kWriteEnd), join({checked, {"** ERROR write or ERROR timeout **"}})},
        {{},
         {.silentFromStep = statusStep(4)},
         stream(4, kWriteEnd),
         join({checked, {"** ERROR write or ERROR timeout **"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.back());
        again(c.chipFaults, c.wireFaults);
        const std::string path = write(image);
        EXPECT_EQ(wire(), c.wire);
        EXPECT_EQ(
            log(),
            join(
                {kNpceStartLines, {"Write to NPCE file:", path, kStamp, "Erase ..."}, c.lines, {kIncomplete, kStamp}}));
        const Lines events = ui.events();
        EXPECT_EQ(Lines(events.end() - 2, events.end()), (Lines{"started Write_NPCE", "ended"}));
        EXPECT_FALSE(op().lastSucceeded());
    }
    EXPECT_EQ(endBytes(),
              "IO"
              "IO"
              "I"
              "I"
              "I");
}

TEST_F(NpceOperation, QuittingDuringTheWriteSendsTheFailureByte) {
    struct QuitAtBlock : RecordingFrontend {
        kj::Operation* operation = nullptr;
        void setGaugeProgress(int value, int maximum, int gauge) override {
            RecordingFrontend::setGaugeProgress(value, maximum, gauge);
            if (value == 3) operation->abort();
        }
    } quitUi;
    kj::ImageTool tool(*bridge, quitUi, kj::npce::kFamily);
    quitUi.operation = &tool.operation();
    writeFile(dir.file("image.bin"), npceRandomImage(kNpceImage, 8));
    quitUi.chooseNext(dir.file("image.bin"));
    tool.startWrite();
    waitIdle(tool.operation());
    const Lines lines = maskTimes(quitUi.lines());
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()), (Lines{"Operation is stopped.", kIncomplete, kStamp}));
    EXPECT_EQ(wire().back(), 'O');
    EXPECT_EQ(endBytes(), "IO");
    expectEnded(tool.operation());
}

}  // namespace
}  // namespace kjtest
