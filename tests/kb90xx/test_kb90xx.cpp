// The KB90xx read and write against the simulated controller: exact bytes on
// the wire, file contents, log lines, gauge and the end byte at the programmer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "kb90xx_fixture.h"
#include "link/port_list.h"
#include "sim/kb90xx_chip.h"
#include "support/operation_contract.h"

namespace kjtest {

INSTANTIATE_TEST_SUITE_P(Kb90xx, OperationContract,
                         ::testing::Values(ContractFamily{
                             .name = "kb90xx",
                             .firmware = "V41",
                             .make = [](kj::Bridge& bridge, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
                                 return kj::makeImageTool(kj::kb90xx::kFamily, bridge, ui);
                             },
                             .image = [](const kjsim::Bench& bench) { return bench.chip<kjsim::Kb90xxChip>().flash(); },
                             .readBlockStep = [](int n) { return n + 2; },  // after 'B' and 'V'
                             .readReplies = 2 + 512,
                             .failureEnd = "O",
                         }));

namespace {

using kj::Millis;

class Kb90xxOperation : public ::testing::Test, protected Rig {
protected:
    explicit Kb90xxOperation(kjsim::BenchOptions options = {})
        : Rig(options), tool_(*bridge, ui, kj::kb90xx::kFamily) {}

    kjsim::Kb90xxChip& chip() { return bench.chip<kjsim::Kb90xxChip>(); }
    Bytes written() { return wire(); }

    void read(const std::optional<std::string>& path) {
        ui.chooseNext(path);
        tool_.startRead();
        waitIdle(tool_.operation());
    }
    void write(const std::optional<std::string>& path) {
        ui.chooseNext(path);
        tool_.startWrite();
        waitIdle(tool_.operation());
    }
    void expectEndedIdle() { expectEnded(tool_.operation()); }
    // A write of a random image whose verification fails with `line`, after the
    // file's check values, and ends with the failure end byte.
    void expectVerificationFailsWith(const std::string& line) {
        const std::string path = dir.file("image.bin");
        writeFile(path, randomImage(kImage, 7));
        write(path);
        const Lines lines = log();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(Lines(lines.end() - 3, lines.end()), (Lines{kStars, line, kStamp}));
        EXPECT_EQ(written().back(), 'O');
        EXPECT_EQ(endBytes(), "O");
        EXPECT_FALSE(tool_.operation().lastSucceeded());
        expectEndedIdle();
    }

    kj::ImageTool tool_;
};

// ---- CRC ----

TEST(Kb90xxCrc, IsCrc16ArcWithItsCheckValue) {
    uint16_t crc = 0;
    for (char c : std::string("123456789")) crc = kj::updateCrc16(crc, static_cast<uint8_t>(c));
    EXPECT_EQ(crc, 0xBB3D);
    // Agrees with the simulator's bit-by-bit CRC over a whole image.
    const Bytes image = randomImage(kImage, 5);
    crc = 0;
    for (uint8_t b : image) crc = kj::updateCrc16(crc, b);
    EXPECT_EQ(crc, kjsim::crc16Arc(image));
}

// ---- read ----

TEST_F(Kb90xxOperation, FullReadStoresTheFlashAndEndsWithSuccess) {
    const std::string path = dir.file("flash.bin");
    read(path);

    EXPECT_EQ(written(), readTranscript());
    EXPECT_EQ(readFile(path), chip().flash());
    EXPECT_EQ(
        log(),
        join({kStartLines,
              {"Save the file: ", path, "Reading KB9012 ...", kStamp, "Reading completed successfully.", kStamp}}));
    EXPECT_EQ(endBytes(), "I");
    EXPECT_TRUE(tool_.operation().lastSucceeded());
    EXPECT_EQ(ui.clears(), 1);
    EXPECT_EQ(ui.events(), (Lines{"started Reading", "ended"}));
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kLime});
    std::vector<int> progress{0};
    for (int block = 1; block <= 512; ++block) progress.push_back(64 * block);
    EXPECT_EQ(ui.progress(), progress);
    EXPECT_EQ(ui.maximum(), 32768);
    expectEndedIdle();

    ASSERT_EQ(ui.dialogs().size(), 1u);
    const auto dialog = ui.dialogs()[0];
    EXPECT_EQ(dialog.kind, kj::FileDialogSpec::Kind::Save);
    EXPECT_EQ(dialog.title, "Укажите имя файла для сохранения.");
    EXPECT_EQ(dialog.filter, "BIN файл KB901X (*.bin)|*.bin");
    EXPECT_EQ(dialog.defaultName, "Noname");
    EXPECT_EQ(dialog.defaultExt, ".bin");
}

TEST_F(Kb90xxOperation, CancelledSaveDialogClosesTheLinkWithoutEndByte) {
    read(std::nullopt);
    EXPECT_EQ(written(), (Bytes{'B', 'V'}));
    EXPECT_EQ(log(), join({kStartLines, {"Write to file is interrupted."}}));
    EXPECT_TRUE(ui.events().empty());
    EXPECT_FALSE(tool_.operation().lastSucceeded());
    expectEndedIdle();
}

TEST_F(Kb90xxOperation, FileThatCannotBeCreatedShowsTheBox) {
    read(dir.file("no-such-dir/flash.bin"));
    EXPECT_EQ(written(), (Bytes{'B', 'V'}));
    EXPECT_EQ(ui.errors(),
              (Lines{"Ошибка создания файла.\n" + dir.file("no-such-dir/flash.bin") + ": No such file or directory"}));
    EXPECT_EQ(log(), kStartLines);
    expectEndedIdle();
}

TEST_F(Kb90xxOperation, FullDiskFailsTheReadAndKeepsTheDevice) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    read("/dev/full");
    // Stored in large pieces: the disk is found full before success is claimed, not at block 1.
    const Bytes sent = written();
    EXPECT_EQ(sent.back(), 'O');
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'X'), 0);
    EXPECT_EQ(log(), join({kStartLines,
                           {"Save the file: ", "/dev/full", "Reading KB9012 ...", kStamp,
                            "Error writing the file: /dev/full: No space left on device", kStamp}}));
    EXPECT_EQ(ui.errors(), (Lines{"Ошибка записи файла."}));
    EXPECT_EQ(endBytes(), "O");
    EXPECT_FALSE(tool_.operation().lastSucceeded());
    // Only regular files are ever removed.
    EXPECT_TRUE(fs::exists("/dev/full"));
    expectEndedIdle();
}

TEST_F(Kb90xxOperation, SilentProgrammerMidReadEndsIdleWithoutAPartialImage) {
    tool_.operation().link().timeouts = kShortTimeouts;
    chip().silentAtBlock = 5;
    const std::string path = dir.file("flash.bin");
    read(path);

    Bytes expected{'B', 'V', 'R', 'N', 'N', 'N', 'N', 'O'};
    EXPECT_EQ(written(), expected);
    EXPECT_EQ(log(), join({kStartLines,
                           {"Save the file: ", path, "Reading KB9012 ...", kStamp,
                            "The programmer does not answer (time-out).", "The incomplete file is deleted.", kStamp}}));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(endBytes(), "O");
    EXPECT_EQ(ui.events(), (Lines{"started Reading", "ended"}));
    EXPECT_FALSE(tool_.operation().lastSucceeded());
    expectEndedIdle();
}

TEST_F(Kb90xxOperation, MoreThanABlockQueuedIsAProtocolError) {
    chip().extraAfterBlock = 2;
    chip().extraBytes = 3;
    const std::string path = dir.file("flash.bin");
    read(path);
    EXPECT_EQ(written(), (Bytes{'B', 'V', 'R', 'N', 'O'}));
    const Lines lines = log();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "Protocol error: the programmer sent more bytes than expected.");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(endBytes(), "O");
    expectEndedIdle();
}

TEST_F(Kb90xxOperation, QuitDuringAReadEndsItWithTheFailureByte) {
    // The quit comes while block 3 is being stored.
    struct QuitAtBlock : RecordingFrontend {
        kj::Operation* operation = nullptr;
        void setGaugeProgress(int value, int maximum, int gauge) override {
            RecordingFrontend::setGaugeProgress(value, maximum, gauge);
            if (value == 3 * 64) operation->abort();
        }
    };
    QuitAtBlock quitUi;
    kj::ImageTool tool(*bridge, quitUi, kj::kb90xx::kFamily);
    quitUi.operation = &tool.operation();
    quitUi.chooseNext(dir.file("flash.bin"));
    tool.startRead();
    waitIdle(tool.operation());
    EXPECT_EQ(written(), (Bytes{'B', 'V', 'R', 'N', 'N', 'N', 'O'}));
    const Lines lines = maskTimes(quitUi.lines());
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{"Operation is stopped.", "The incomplete file is deleted.", kStamp}));
    EXPECT_FALSE(fs::exists(dir.file("flash.bin")));
    EXPECT_EQ(endBytes(), "O");
}

TEST_F(Kb90xxOperation, ReadWriteAndReadAgainEachClearTheLog) {
    const std::string first = dir.file("first.bin");
    const std::string second = dir.file("second.bin");
    read(first);
    write(first);
    read(second);
    EXPECT_EQ(readFile(second), readFile(first));
    EXPECT_EQ(endBytes(), "III");
    EXPECT_EQ(log().front(), kStartLines.front());  // each start clears the log
    EXPECT_EQ(ui.clears(), 3);
}

// ---- no chip ----

class Kb90xxNoChip : public Kb90xxOperation {
protected:
    Kb90xxNoChip() : Kb90xxOperation(noChipBench()) {}
    static kjsim::BenchOptions noChipBench() {
        kjsim::BenchOptions options;
        options.noChip = true;
        return options;
    }
};

TEST_F(Kb90xxNoChip, ReadStopsAfterTheCheckWithTheFailureByte) {
    read(dir.file("flash.bin"));
    EXPECT_EQ(written(), (Bytes{'B', 'V', 'O'}));
    EXPECT_EQ(log(), kNoChipLines);
    EXPECT_TRUE(ui.dialogs().empty());
    EXPECT_FALSE(fs::exists(dir.file("flash.bin")));
    EXPECT_EQ(endBytes(), "O");
    expectEndedIdle();
}

TEST_F(Kb90xxNoChip, WriteStopsAfterTheCheckWithTheFailureByte) {
    writeFile(dir.file("flash.bin"), randomImage(kImage, 3));
    write(dir.file("flash.bin"));
    EXPECT_EQ(written(), (Bytes{'B', 'V', 'O'}));
    EXPECT_EQ(log(), kNoChipLines);
    EXPECT_TRUE(ui.events().empty());
    expectEndedIdle();
}

TEST(Kb90xxLink, NoProgrammerMeansNothingMoreThanTheLinkLine) {
    kjsim::SimBridge bridge;
    RecordingFrontend ui;
    kj::ImageTool tool(bridge, ui, kj::kb90xx::kFamily);
    tool.startRead();
    ASSERT_TRUE(tool.operation().waitIdle(kHangBound));
    EXPECT_EQ(ui.lines(), (Lines{"VCOM port is not found on the machine!", std::string(kj::kNoPortFix)}));
    EXPECT_TRUE(tool.operation().idle());
    EXPECT_FALSE(tool.operation().lastSucceeded());
}

// ---- write ----

TEST_F(Kb90xxOperation, FullWriteIsVerifiedAndEndsWithSuccess) {
    // Sum 0x1234 (18 x 0xFF + 0x46): the log shows the sum high byte first.
    Bytes image(kImage, 0);
    for (size_t i = 0; i < 18; ++i) image[i * 5000] = 0xFF;
    image[kImage - 1] = 0x46;
    const uint16_t crc = kjsim::crc16Arc(image);
    const std::string path = dir.file("image.bin");
    writeFile(path, image);
    write(path);

    const Bytes expected = then(writeTranscript(blocksSent(image)), {'S', 'I'});
    EXPECT_EQ(written(), expected);
    EXPECT_EQ(chip().flash(), image);
    const Lines lines = log();
    EXPECT_EQ(lines, join({writeStartLines(path), verifyLines(0x1234, crc, 0x1234, crc)}));
    EXPECT_EQ(lines[lines.size() - 5], "SUMM FLASH KB90XX -> 1234");
    EXPECT_EQ(endBytes(), "I");
    EXPECT_TRUE(tool_.operation().lastSucceeded());
    EXPECT_EQ(ui.events(), (Lines{"started Writing", "ended"}));
    EXPECT_EQ(ui.colours(), (std::vector<kj::Rgb>{kj::kRed, kj::kYellow}));
    // Red from 0 to full, back to 0, then yellow from 0 to full with the marks.
    std::vector<int> progress{0};
    for (int block = 1; block <= 512; ++block) progress.push_back(64 * block);
    progress.push_back(0);
    for (int mark = 1; mark <= 512; ++mark) progress.push_back(64 * mark);
    EXPECT_EQ(ui.progress(), progress);
    expectEndedIdle();

    ASSERT_EQ(ui.dialogs().size(), 1u);
    const auto dialog = ui.dialogs()[0];
    EXPECT_EQ(dialog.kind, kj::FileDialogSpec::Kind::Open);
    EXPECT_EQ(dialog.title, "Укажите файл за заливки.");
    EXPECT_EQ(dialog.filter, "BIN файл KB901X (*.bin)|*.bin|Другие|*.*");
}

TEST_F(Kb90xxOperation, NoiseAmongTheProgressMarksDoesNotCount) {
    chip().noiseBeforeChecksum = 40;
    const Bytes image = randomImage(kImage, 9);
    const std::string path = dir.file("image.bin");
    writeFile(path, image);
    write(path);
    const uint16_t sum = kjsim::byteSum16(image), crc = kjsim::crc16Arc(image);
    EXPECT_EQ(log(), join({writeStartLines(path), verifyLines(sum, crc, sum, crc)}));
    EXPECT_EQ(endBytes(), "I");
}

TEST_F(Kb90xxOperation, FailedVerificationEndsWithTheFailureByte) {
    const Bytes image = randomImage(kImage, 1);
    chip().corruptWriteAt = 70000;
    const std::string path = dir.file("image.bin");
    writeFile(path, image);
    write(path);

    const Bytes flash = chip().flash();
    ASSERT_NE(flash, image);
    const Bytes expected = then(writeTranscript(blocksSent(image)), {'S', 'O'});
    EXPECT_EQ(written(), expected);
    EXPECT_EQ(log(), join({writeStartLines(path), verifyLines(kjsim::byteSum16(image), kjsim::crc16Arc(image),
                                                              kjsim::byteSum16(flash), kjsim::crc16Arc(flash))}));
    EXPECT_EQ(endBytes(), "O");
    EXPECT_FALSE(tool_.operation().lastSucceeded());
    expectEndedIdle();
}

TEST_F(Kb90xxOperation, LongerFileIsWrittenOverItsFirst128KiBOnly) {
    const Bytes image = randomImage(kImage + 1000, 2);
    const std::string path = dir.file("long.bin");
    writeFile(path, image);
    write(path);

    const Bytes first(image.begin(), image.begin() + kImage);
    const Bytes expected = then(writeTranscript(blocksSent(first)), {'S', 'I'});
    EXPECT_EQ(written(), expected);
    EXPECT_EQ(chip().flash(), first);
    const uint16_t sum = kjsim::byteSum16(first), crc = kjsim::crc16Arc(first);
    EXPECT_EQ(log(), join({writeStartLines(path), verifyLines(sum, crc, sum, crc)}));
}

TEST_F(Kb90xxOperation, ShortFileEndsAfterItsPaddedLastBlock) {
    const Bytes image = randomImage(1000, 3);
    const std::string path = dir.file("short.bin");
    writeFile(path, image);
    write(path);

    const auto blocks = blocksSent(image);
    ASSERT_EQ(blocks.size(), 4u);
    // Block 4: the last 232 file bytes, then 24 bytes 0xFF.
    EXPECT_TRUE(std::equal(blocks[3].begin(), blocks[3].begin() + 232, image.begin() + 768));
    EXPECT_EQ(Bytes(blocks[3].begin() + 232, blocks[3].end()), Bytes(24, 0xFF));
    const Bytes expected = then(writeTranscript(blocks), {'I'});
    EXPECT_EQ(written(), expected);
    Bytes flash(kImage, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin());
    EXPECT_EQ(chip().flash(), flash);
    EXPECT_EQ(log(),
              join({writeStartLines(path), {" __ Warning __", "Recorded file is less than 128*1024 byte", kStamp}}));
    EXPECT_EQ(endBytes(), "I");
    EXPECT_TRUE(tool_.operation().lastSucceeded());
    expectEndedIdle();
}

TEST_F(Kb90xxOperation, EmptyFileSendsOneErasedBlock) {
    const std::string path = dir.file("empty.bin");
    writeFile(path, {});
    write(path);
    EXPECT_EQ(written(), then(writeTranscript({Bytes(kBlock, 0xFF)}), {'I'}));
    EXPECT_EQ(log(),
              join({writeStartLines(path), {" __ Warning __", "Recorded file is less than 128*1024 byte", kStamp}}));
    EXPECT_EQ(chip().flash(), Bytes(kImage, 0xFF));
    EXPECT_EQ(endBytes(), "I");
}

TEST_F(Kb90xxOperation, FileOfWholeBlocksGetsOneErasedBlockAfterIt) {
    const Bytes image = randomImage(2 * kBlock, 4);
    const std::string path = dir.file("two.bin");
    writeFile(path, image);
    write(path);
    const auto blocks = blocksSent(image);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2], Bytes(kBlock, 0xFF));
    EXPECT_EQ(written(), then(writeTranscript(blocks), {'I'}));
}

// A write that cannot go ahead is settled before the link opens.
TEST_F(Kb90xxOperation, AWriteWithoutAFileNeverOpensTheLink) {
    write(std::nullopt);
    EXPECT_EQ(log(), (Lines{"Write cancelled: nothing was written."}));
    write(dir.file("missing.bin"));
    write(dir.path().string());
    EXPECT_EQ(ui.errors(), (Lines{"Ошибка открытия файла.\n" + dir.file("missing.bin") + ": No such file or directory",
                                  "Ошибка открытия файла.\n" + dir.path().string() + ": is a directory"}));
    EXPECT_TRUE(slot().calls().empty());
    EXPECT_TRUE(ui.events().empty());
    EXPECT_TRUE(tool_.operation().idle());
}

TEST_F(Kb90xxOperation, SilentProgrammerMidWriteEndsIdle) {
    tool_.operation().link().timeouts = kShortTimeouts;
    chip().silentAtBlock = 3;
    const Bytes image = randomImage(kImage, 6);
    const std::string path = dir.file("image.bin");
    writeFile(path, image);
    write(path);
    const auto blocks = blocksSent(image);
    Bytes expected{'B', 'V', 'W'};
    expected.insert(expected.end(), blocks[0].begin(), blocks[0].end());
    expected.push_back('N');
    expected.insert(expected.end(), blocks[1].begin(), blocks[1].end());
    expected.insert(expected.end(), {'N', 'O'});
    EXPECT_EQ(written(), expected);
    EXPECT_EQ(log(), join({writeStartLines(path),
                           {"The programmer does not answer (time-out).",
                            "The KB90XX flash is left incomplete: write it again.", kStamp}}));
    EXPECT_EQ(readFile(path), image);  // the source is never touched
    EXPECT_EQ(endBytes(), "O");
    EXPECT_EQ(ui.events(), (Lines{"started Writing", "ended"}));
    expectEndedIdle();
}

// Replies counted from the handshake: 'B', 'V', a request and an acknowledge
// per block, then the marks and then the four check bytes.
constexpr int kMarksStep = 2 + 2 * 512 + 1;

TEST_F(Kb90xxOperation, MissingProgressMarksEndTheVerification) {
    tool_.operation().link().timeouts = kShortTimeouts;
    bench.programmer->faults.silentFromStep = kMarksStep;
    expectVerificationFailsWith("The programmer does not answer (time-out).");
}

// One mark garbled on the line leaves the count short for good: a protocol
// error once the check bytes have come as strays, not a reply time-out.
TEST_F(Kb90xxOperation, AGarbledProgressMarkIsAProtocolError) {
    bench.programmer->faults.perReply = [](int step, Bytes& reply) {
        if (step == kMarksStep) reply.at(300) = '+';
        return true;
    };
    expectVerificationFailsWith("Protocol error: the programmer sent a wrong byte.");
    EXPECT_EQ(ui.progress().back(), 511 * 64);
}

TEST_F(Kb90xxOperation, MissingCheckBytesEndTheVerification) {
    tool_.operation().link().timeouts = kShortTimeouts;
    bench.programmer->faults.silentFromStep = kMarksStep + 1;
    const std::string path = dir.file("image.bin");
    writeFile(path, randomImage(kImage, 8));
    write(path);
    const Lines lines = log();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{kStars, "The programmer does not answer (time-out).", kStamp}));
    EXPECT_EQ(ui.progress().back(), 32768);  // all 512 marks came
    const Bytes sent = written();
    EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), (Bytes{'X', 'S', 'O'}));
    expectEndedIdle();
}

}  // namespace
}  // namespace kjtest

namespace kjtest {
namespace {

TEST(Kb90xxLink, WrongFirmwareIsNamedBesideTheFirmwareNeeded) {
    kjsim::BenchOptions options;
    options.family = "V42";
    Rig rig(options);
    kj::ImageTool tool(*rig.bridge, rig.ui, kj::kb90xx::kFamily);
    tool.startRead();
    rig.waitIdle(tool.operation());
    EXPECT_EQ(rig.log(), (Lines{"Number of VCOM ports found on the machine: 1",
                                "It is necessary to update the firmware programmer!",
                                "The programmer's firmware is V42; this window needs V41."}));
    EXPECT_TRUE(rig.ui.dialogs().empty());
    rig.expectEnded(tool.operation());
}

}  // namespace
}  // namespace kjtest
