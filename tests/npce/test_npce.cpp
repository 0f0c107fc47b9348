// The NPCE read and write against the simulated controller: the bytes on the
// wire, the file, the log, the gauge and the end bytes at the programmer.
#include <gtest/gtest.h>

#include "npce_fixture.h"
#include "support/operation_contract.h"

namespace kjtest {

// Replies: 'B', 'Z', the answer to 'I', then one per block.
INSTANTIATE_TEST_SUITE_P(Npce, OperationContract,
                         ::testing::Values(ContractFamily{
                             .name = "npce",
                             .firmware = kjsim::Family::Npce,
                             .make = [](kj::Bridge& bridge, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
                                 return std::make_unique<kj::NpceProgrammer>(bridge, ui);
                             },
                             .image = [](const kjsim::Bench& bench) { return bench.npce->flash(); },
                             .readBlockStep = [](int n) { return n + 3; },
                             .readReplies = 3 + 256 + 2,  // the end report and the answer to 'I'
                             .failureEnd = "O",
                         }));

namespace {

using kj::Millis;

constexpr uint8_t kWriteEnd = 0x07;
// Replies up to the erase's, then a request and a status per write block.
constexpr int kEraseStep = 4;
constexpr int statusStep(int block) { return kEraseStep + 1 + 2 * block; }

class NpceOperation : public ::testing::Test, protected Rig {
protected:
    NpceOperation() : Rig(npceBench()), programmer_(*bridge, ui) {}
    static kjsim::BenchOptions npceBench() {
        kjsim::BenchOptions options;
        options.family = kjsim::Family::Npce;
        return options;
    }

    kjsim::NpceChip& chip() { return *bench.npce; }
    void setFaults(const std::function<void(kjsim::NpceFaults&)>& change) {
        auto faults = chip().faults();
        change(faults);
        chip().setFaults(faults);
    }
    void read(const std::string& path) {
        ui.chooseNext(path);
        programmer_.startRead();
        waitIdle(programmer_.operation());
        expectEnded(programmer_.operation());
    }
    // Writes `image` from a file; the chip starts out holding another one.
    std::string write(const Bytes& image) {
        chip().setFlash(npceRandomImage(kNpceImage, 99));
        const std::string path = dir.file("image.bin");
        writeFile(path, image);
        ui.chooseNext(path);
        programmer_.startWrite();
        waitIdle(programmer_.operation());
        expectEnded(programmer_.operation());
        return path;
    }
    Bytes padded(const Bytes& file) {
        Bytes image(kNpceImage, 0xFF);
        std::copy_n(file.begin(), std::min(file.size(), kNpceImage), image.begin());
        return image;
    }

    kj::NpceProgrammer programmer_;
};

// ---- read ----

TEST_F(NpceOperation, ReadStoresTheFlashWithTheWindowsLinesAndGauge) {
    const std::string path = dir.file("flash.bin");
    read(path);

    EXPECT_EQ(wire(), npceReadBack(npceOpening(), 256, 'I'));
    EXPECT_EQ(readFile(path), chip().flash());
    EXPECT_EQ(log(), npceReadLines(path));
    EXPECT_EQ(endBytes(), "II");
    EXPECT_TRUE(programmer_.operation().lastSucceeded());
    EXPECT_EQ(ui.events(), (Lines{"started Reading_NPCE", "ended"}));
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kLime});
    std::vector<int> progress{0};
    for (int block = 1; block <= 256; ++block) progress.push_back(2 * block);
    EXPECT_EQ(ui.progress(), progress);
    EXPECT_EQ(ui.maximum(), 512);
    ASSERT_EQ(ui.dialogs().size(), 1u);
    EXPECT_EQ(ui.dialogs()[0].title, "Укажите имя файла для сохранения.");
    EXPECT_EQ(ui.dialogs()[0].filter, "BIN файл NPCE (*.bin)|*.bin");
    EXPECT_EQ(ui.dialogs()[0].defaultName, "Noname");
}

// Any first byte but 0 is a good read; a bad or missing report keeps no file.
TEST_F(NpceOperation, TheEndReportDecidesWhetherTheReadIsKept) {
    programmer_.operation().link().timeouts = kShortTimeouts;
    const std::string path = dir.file("flash.bin");
    setFaults([](auto& f) { f.endReportFirst = 2; });
    read(path);
    EXPECT_EQ(readFile(path), chip().flash());
    EXPECT_EQ(endBytes(), "II");

    const Lines failed = join({npceReadLines(path), {"ERROR timeout. Corrupted data !? ", "The incomplete file is deleted."}});
    for (const bool silent : {false, true}) {
        fs::remove(path);
        ui.clearLog();
        slot().clearRecord();
        // Silent: the report never comes, and the last block (first byte 0xFE) must not stand in for it.
        setFaults([&](auto& f) { f.endReportFirst = silent ? -1 : 0; });
        faults().silentFromStep = silent ? 3 + 256 + 1 : 0;
        read(path);
        EXPECT_EQ(wire(), npceReadBack(npceOpening(), 256, 'O')) << silent;
        EXPECT_EQ(log(), failed) << silent;
        EXPECT_TRUE(files().empty()) << silent;
        EXPECT_FALSE(programmer_.operation().lastSucceeded());
    }
    EXPECT_EQ(endBytes(), "II" "IO" "IO");
}

TEST_F(NpceOperation, AnotherFlashIdIsRefusedWithTheFailureByte) {
    setFaults([](auto& f) { f.id = {0xEF, 0x40, 0x13, 0x00}; });
    read(dir.file("flash.bin"));
    ui.chooseNext(dir.file("image.bin"));
    programmer_.startWrite();
    waitIdle(programmer_.operation());

    const Lines refused = join({Lines(kNpceStartLines.begin(), kNpceStartLines.end() - 2),
                                {"No connection to the NPCE!", "Check soldering NPCE or chip damaged."}});
    EXPECT_EQ(log(), join({refused, refused}));
    EXPECT_EQ(wire(), (Bytes{'B', 'Z', 'O', 'B', 'Z', 'O'}));
    EXPECT_EQ(endBytes(), "OO");
    EXPECT_TRUE(ui.dialogs().empty());
    EXPECT_TRUE(ui.events().empty());
    EXPECT_TRUE(files().empty());
}

// ---- write ----

// A short file is written padded with 0xFF, a long one cut, each once the user
// has said yes; the whole flash is read back.
TEST_F(NpceOperation, WriteProgramsEveryBlockAndVerifiesTheWholeFlash) {
    for (const size_t size : {size_t{1000}, kNpceImage, kNpceImage + 1000}) {
        SCOPED_TRACE(size);
        slot().clearRecord();
        ui.clearLog();
        const Bytes file = npceRandomImage(size, static_cast<unsigned>(size));
        const size_t questions = ui.questions().size();
        const std::string path = write(file);

        const Bytes image = padded(file);
        EXPECT_EQ(chip().flash(), image);
        Bytes expected = npceWriteStream(image, 512);
        expected.push_back(kWriteEnd);
        EXPECT_EQ(wire(), npceReadBack(expected, 256, 'I'));
        EXPECT_EQ(log(), join({npceWriteLines(path), {"Verify ...", "Nuvoton chip is programmed succesfully!", kStamp}}));
        EXPECT_EQ(ui.questions().size(), questions + (size == kNpceImage ? 0 : 1));
        EXPECT_TRUE(programmer_.operation().lastSucceeded());
    }
    EXPECT_EQ(ui.questions().front(), dir.file("image.bin") +
                                          "\nThe file holds 1000 bytes; the chip's flash holds 131072. Write it anyway?");
    EXPECT_EQ(endBytes(), "II" "II" "II");
    EXPECT_EQ(ui.colours().back(), kj::kYellow);
    const auto progress = ui.progress();
    std::vector<int> last{0};
    for (int block = 1; block <= 512; ++block) last.push_back(block);
    last.push_back(0);
    for (int block = 1; block <= 256; ++block) last.push_back(2 * block);
    EXPECT_EQ(std::vector<int>(progress.end() - static_cast<std::ptrdiff_t>(last.size()), progress.end()), last);
    EXPECT_EQ(ui.events().back(), "ended");
    EXPECT_EQ(ui.events().front(), "started Write_NPCE");
}

// A difference stops the read-back right after its block; a report that is
// not 1 fails a verification even where it would pass a read.
TEST_F(NpceOperation, TheVerificationFailsOnADifferenceOrAReportOtherThanOne) {
    setFaults([](auto& f) { f.corruptByteAt = 2 * kNpceReadBlock + 100; });  // in verify block 3
    const Bytes image = npceRandomImage(kNpceImage, 7);
    std::string path = write(image);
    Bytes expected = npceWriteStream(image, 512);
    expected.push_back(kWriteEnd);
    EXPECT_EQ(wire(), npceReadBack(expected, 3, 'O'));
    EXPECT_EQ(log(), join({npceWriteLines(path), {"Verify ...", "*** Data is written incorrectly ***", kStamp}}));
    EXPECT_EQ(ui.progress().back(), 6);

    slot().clearRecord();
    ui.clearLog();
    chip().setFaults({.endReportFirst = 2});
    path = write(image);
    EXPECT_EQ(chip().flash(), image);
    EXPECT_EQ(wire(), npceReadBack(expected, 256, 'O'));
    EXPECT_EQ(log(), join({npceWriteLines(path), {"Verify ...", "ERROR timeout. Corrupted data !? ", kStamp}}));

    // Verify block 2 comes a byte short: said, and counted as a difference.
    slot().clearRecord();
    ui.clearLog();
    chip().setFaults({});
    programmer_.operation().link().timeouts = kShortTimeouts;
    faults().shortReplyAt = statusStep(512) + 3;  // after the answer to 0x07 and block 1
    path = write(image);
    EXPECT_EQ(wire(), npceReadBack(expected, 2, 'O'));
    EXPECT_EQ(log(), join({npceWriteLines(path),
                           {"Verify ...", "Принято не 512 байт  511", "*** Data is written incorrectly ***", kStamp}}));
    EXPECT_EQ(endBytes(), "IO" "IO" "IO");
    EXPECT_FALSE(programmer_.operation().lastSucceeded());
}

TEST_F(NpceOperation, AFailingEraseOrBlankCheckEndsBeforeAnyBlock) {
    const Bytes before = npceRandomImage(kNpceImage, 99);
    for (const bool erase : {true, false}) {
        SCOPED_TRACE(erase ? "erase" : "blank check");
        slot().clearRecord();
        ui.clearLog();
        setFaults([&](auto& f) {
            f.eraseFails = erase;
            f.blankCheckFails = !erase;
        });
        const std::string path = write(npceRandomImage(kNpceImage, 3));
        Bytes expected = npceOpening();
        expected.push_back('e');
        if (!erase) expected.push_back('x');
        expected.push_back('O');
        EXPECT_EQ(wire(), expected);
        const Lines lines = erase ? Lines{"** Lost contact with the chip or ERROR timeout **"}
                                  : Lines{"Check clear data ...", "** Data not clear !**"};
        EXPECT_EQ(log(), join({kNpceStartLines, {"Write to NPCE file:", path, kStamp, "Erase ..."}, lines,
                               {"The NPCE flash is left incomplete: write it again.", kStamp}}));
        EXPECT_EQ(chip().flash() == before, erase);
    }
    EXPECT_EQ(endBytes(), "IO" "IO");
    EXPECT_EQ(ui.events(), (Lines{"started Write_NPCE", "ended", "started Write_NPCE", "ended"}));
}

// A bad request byte ends the write without an end byte; a failed or missing
// status closes the stream with 0x07.
TEST_F(NpceOperation, AFailedBlockEndsTheWriteWithThePartsEnding) {
    programmer_.operation().link().timeouts = kShortTimeouts;
    const Bytes image = npceRandomImage(kNpceImage, 5);
    struct Case {
        const char* name;
        std::function<void()> fault;
        int blocks;
        Bytes after;
        std::string line;
    };
    const std::vector<Case> cases{
        {"bad request", [&] { setFaults([](auto& f) { f.badRequestAtBlock = 4; }); }, 3, {'w'},
         "** HOST/Q17 Protocol ERROR **"},
        {"status 0", [&] { setFaults([](auto& f) { f.failedBlock = 4; }); }, 4, {kWriteEnd},
         "** ERROR write or ERROR timeout **"},
        {"no status", [&] { faults().silentFromStep = statusStep(4); }, 4, {kWriteEnd},
         "** ERROR write or ERROR timeout **"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        slot().clearRecord();
        ui.clearLog();
        chip().setFaults({});
        faults().silentFromStep = 0;
        c.fault();
        const std::string path = write(image);
        Bytes expected = npceWriteStream(image, c.blocks);
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(wire(), expected);
        EXPECT_EQ(log(), join({npceWriteLines(path),
                               {c.line, "The NPCE flash is left incomplete: write it again.", kStamp}}));
        EXPECT_EQ(ui.progress().back(), c.blocks);
        EXPECT_FALSE(programmer_.operation().lastSucceeded());
    }
    EXPECT_EQ(endBytes(), "I" "I" "I");
}

TEST_F(NpceOperation, QuittingDuringTheWriteSendsTheFailureByte) {
    struct QuitAtBlock : RecordingFrontend {
        kj::Operation* operation = nullptr;
        void setGaugeProgress(int value, int maximum, int gauge) override {
            RecordingFrontend::setGaugeProgress(value, maximum, gauge);
            if (value == 3) operation->abort();
        }
    };
    QuitAtBlock quitUi;
    kj::NpceProgrammer programmer(*bridge, quitUi);
    quitUi.operation = &programmer.operation();
    const std::string path = dir.file("image.bin");
    writeFile(path, npceRandomImage(kNpceImage, 8));
    quitUi.chooseNext(path);
    programmer.startWrite();
    waitIdle(programmer.operation());
    expectEnded(programmer.operation());
    const Lines lines = maskTimes(quitUi.lines());
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{"Operation is stopped.", "The NPCE flash is left incomplete: write it again.", kStamp}));
    EXPECT_EQ(wire().back(), 'O');
    EXPECT_EQ(endBytes(), "IO");
}

}  // namespace
}  // namespace kjtest
