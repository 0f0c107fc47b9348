// The EDID read and write against the simulated programmer: the bytes on the
// wire, the log, the saved file, the EEPROM's contents, and every way out.
#include <gtest/gtest.h>

#include <atomic>

#include "common/text.h"
#include "edid_fixture.h"
#include "sim/eeprom_chip.h"
#include "support/recording_frontend.h"

namespace kjtest {
namespace {

using Writes = std::vector<Bytes>;

// Only for the cases that expect a time-out; the others wait long enough
// never to depend on the machine's speed.
constexpr kj::Millis kShortWait{300};
constexpr kj::Millis kHangBound{10000};

const Bytes kB{'B'}, kEr{'E', 'r'}, kEw{'E', 'w'}, kI{'I'}, kO{'O'};

Lines dumpOf(const Bytes& image) { return kj::hexDump(image); }

// A chip whose status is neither "OK" nor "ER".
class OddStatusEeprom : public kjsim::ChipModel {
public:
    bool handle(uint8_t command, kjsim::Wire& wire) override {
        if (command != 'E') return false;
        if (wire.get() == 'r') {
            wire.reply(withStatus(Bytes(kj::kEdidImageSize, 0x11), "XY"));
        } else {
            wire.reply(uint8_t{'>'});
            wire.getN(kj::kEdidImageSize);
            wire.reply(std::string("XY"));
        }
        return true;
    }
};

// Records each summary shown with how much had gone out on the wire by then,
// and each bad-base-block question, answered as the test says.
class EdidFrontend : public RecordingFrontend {
public:
    std::function<size_t()> wireSize;
    std::vector<Lines> shown;
    std::vector<size_t> wireAtShow;
    std::vector<std::string> asked;
    std::optional<size_t> answer = kj::kAnswerAsIs;

    void show(const std::any& event) override {
        const auto& info = std::any_cast<const kj::EdidInfoEvent&>(event);
        shown.push_back(kj::describeEdid(info.info));
        wireAtShow.push_back(wireSize());
    }
    std::optional<size_t> choose(std::string_view question, const std::vector<std::string>&) override {
        asked.emplace_back(question);
        return answer;
    }
};

class EdidOps : public testing::Test {
protected:
    EdidOps() : EdidOps(kjsim::makeBench({})) {}
    explicit EdidOps(kjsim::Bench bench)
        : bench_(std::move(bench)),
          slot_(kjsim::SimSlot::programmer(bench_.programmer)),
          bridge_({slot_}),
          tool_(bridge_, ui_, kj::edid::kFamily) {
        tool_.operation().link().timeouts.reply = kHangBound;
        tool_.operation().link().timeouts.slowStep = kHangBound;
        ui_.wireSize = [this] { return slot().written().size(); };
    }

    kjsim::SimSlot& slot() { return *slot_; }
    void expectTimeOut() {
        tool_.operation().link().timeouts.reply = kShortWait;
        tool_.operation().link().timeouts.slowStep = kShortWait;
    }
    kjsim::EepromChip& eeprom() { return bench_.chip<kjsim::EepromChip>(); }
    Writes writes() { return slot().writes(); }
    bool linkClosed() { return !slot().isOpen() && slot().calls().back() == "close"; }
    Lines log() { return ui_.lines(); }

    // Answers the bad-base-block question.
    void answer(kj::EdidWriteAnswer choice) { ui_.answer = choice; }
    const std::vector<std::string>& questions() const { return ui_.asked; }
    bool untouched() { return slot().calls().empty() && writes().empty(); }

    // Each runs the operation on its worker and waits for it; true when it succeeded.
    static bool ran(kj::ImageTool& tool, bool write) {
        write ? tool.startWrite() : tool.startRead();
        return tool.operation().waitIdle(kHangBound) && tool.operation().lastSucceeded();
    }
    bool read() { return ran(tool_, false); }
    bool write() { return ran(tool_, true); }

    bool writeFileToEeprom(const Bytes& file) {
        const auto path = dir_.file("in.bin");
        writeFile(path, file);
        ui_.chooseNext(path);
        return write();
    }

    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    kjsim::SimBridge bridge_;
    EdidFrontend ui_;
    kj::ImageTool tool_;
    ScratchDir dir_;
    const std::vector<Lines>& shown_ = ui_.shown;
};

// ---- read ----

Lines readLog(const Bytes& image, const std::string& path) {
    return join({kLinkLines,
                 {"Reading EEPROM ...", "Reading from the EEPROM is completed successfully."},
                 dumpOf(image),
                 {"", "Save the file: ", fs::absolute(path).string()}});
}

TEST_F(EdidOps, ReadShowsTheDumpSendsIAndSavesExactly256Bytes) {
    const auto path = dir_.file("panel.bin");
    ui_.chooseNext(path);

    EXPECT_TRUE(read());

    const Bytes image = kjsim::builtInPanelEdid();
    EXPECT_EQ(log(), readLog(image, path));
    EXPECT_EQ(ui_.clears(), 1);
    EXPECT_EQ(writes(), (Writes{kB, kEr, kI}));
    EXPECT_TRUE(linkClosed());
    EXPECT_EQ(readFile(path), image);
    EXPECT_EQ(tool_.sessions<kj::EdidSessions>().fileName(), path);
    EXPECT_TRUE(ui_.errors().empty());
    ASSERT_EQ(ui_.dialogs().size(), 1u);
    const auto dialog = ui_.dialogs()[0];
    EXPECT_EQ(dialog.kind, kj::FileDialogSpec::Kind::Save);
    EXPECT_EQ(dialog.title, "Укажите имя файла для сохранения.");
    EXPECT_EQ(dialog.filter, "BIN файлы EEPROM (*.bin)|*.bin");
    EXPECT_EQ(dialog.defaultName, "Noname");
    EXPECT_EQ(dialog.defaultExt, ".bin");
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0], kj::describeEdid(kj::decodeEdid(image)));
}

TEST_F(EdidOps, ReadInPiecesAssemblesTheSameStreamAsAWholeReply) {
    const auto path = dir_.file("panel.bin");
    eeprom().setFlash(ramp(kj::kEdidImageSize, 0x80));
    ui_.chooseNext(path);
    ASSERT_TRUE(read());
    const Lines wholeLog = log();
    const Bytes wholeFile = readFile(path);

    eeprom().readPieces = {62, 62, 134};
    slot().clearRecord();
    ui_.chooseNext(path);
    ASSERT_TRUE(read());

    EXPECT_EQ(log(), wholeLog);
    EXPECT_EQ(readFile(path), wholeFile);
    EXPECT_EQ(wholeFile, ramp(kj::kEdidImageSize, 0x80));
    EXPECT_EQ(writes(), (Writes{kB, kEr, kI}));
}

TEST_F(EdidOps, DumpTextColumnShowsBlanksAndControlBytesAsDots) {
    Bytes image(kj::kEdidImageSize, 0x00);
    const Bytes row{0x20, 0x00, 0x7F, 0x80, '.', '_', 'A', 'z', '0', 0xFF, '-', '!', 0x0A, 0x0D, 0x09, '~'};
    std::copy(row.begin(), row.end(), image.begin());
    eeprom().setFlash(image);
    ui_.chooseNext(std::nullopt);

    read();

    const Lines lines = log();
    const auto at = std::find(lines.begin(), lines.end(), "Reading from the EEPROM is completed successfully.");
    ASSERT_NE(at, lines.end());
    ASSERT_GE(lines.end() - at, 4);
    EXPECT_EQ(*(at + 1), "");
    EXPECT_EQ(*(at + 2), ": 20 00 7F 80 2E 5F 41 7A 30 FF 2D 21 0A 0D 09 7E ....._Az0.......");
    EXPECT_EQ(*(at + 3), ": 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ................");
}

TEST_F(EdidOps, ReadAnsweredERSendsOAndAsksForNoFile) {
    eeprom().notResponding = true;
    ui_.chooseNext(dir_.file("never.bin"));

    EXPECT_FALSE(read());

    EXPECT_EQ(log(),
              join({kLinkLines, {"Reading EEPROM ...", "EEPROM does not respond, check the connection !!!", ""}}));
    EXPECT_EQ(writes(), (Writes{kB, kEr, kO}));
    EXPECT_TRUE(linkClosed());
    EXPECT_TRUE(ui_.dialogs().empty());
    EXPECT_FALSE(fs::exists(dir_.file("never.bin")));
    EXPECT_TRUE(shown_.empty());
}

TEST_F(EdidOps, ReadThatCannotFinishSaysWhyAndClosesTheLink) {
    struct Case {
        const char* name;
        std::function<void()> fault;
        std::string line;
        Writes wire;  // no end byte on a link that is gone
    };
    const std::string timeOut = "The programmer does not answer (time-out).";
    const Case cases[] = {
        {"one byte short", [this] { bench_.programmer->faults.shortReplyAt = 2; }, timeOut, {kB, kEr, kO}},
        {"EEPROM silent", [this] { eeprom().silent = true; }, timeOut, {kB, kEr, kO}},
        {"unplugged",
         [this] { bench_.programmer->faults.hangUpAtStep = 2; },
         "Connection with the programmer is lost.",
         {kB, kEr}},
        // Quitting: the last case, as nothing starts once the program quits; not even the link.
        {"quit", [this] { tool_.operation().abort(); }, "", {}},
    };
    expectTimeOut();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bench_.programmer->faults = {};
        eeprom().silent = false;
        c.fault();
        slot().clearRecord();

        EXPECT_FALSE(read());

        EXPECT_EQ(log(), c.line.empty() ? Lines{} : join({kLinkLines, {"Reading EEPROM ...", c.line}}));
        EXPECT_EQ(writes(), c.wire);
        EXPECT_FALSE(slot().isOpen());
        EXPECT_TRUE(ui_.dialogs().empty());
    }
}

TEST_F(EdidOps, SaveCancelledLeavesTheDumpAndTheLinkClosed) {
    ui_.chooseNext(std::nullopt);

    EXPECT_FALSE(read());

    const Bytes image = kjsim::builtInPanelEdid();
    EXPECT_EQ(log(), join({kLinkLines,
                           {"Reading EEPROM ...", "Reading from the EEPROM is completed successfully."},
                           dumpOf(image),
                           {"", "Write to file is interrupted."}}));
    EXPECT_EQ(writes(), (Writes{kB, kEr, kI}));
    EXPECT_TRUE(linkClosed());
    EXPECT_EQ(shown_.size(), 1u);
}

TEST_F(EdidOps, SaveOverAnExistingFileLeavesExactly256Bytes) {
    const auto path = dir_.file("old.bin");
    writeFile(path, Bytes(1000, 0xAB));
    ui_.chooseNext(path);

    EXPECT_TRUE(read());

    EXPECT_EQ(readFile(path), kjsim::builtInPanelEdid());
}

TEST_F(EdidOps, FileThatCannotBeCreatedShowsTheErrorBox) {
    ui_.chooseNext(dir_.file("no-such-dir/panel.bin"));

    EXPECT_FALSE(read());

    EXPECT_EQ(ui_.errors(),
              (Lines{"Ошибка создания файла.\n" + dir_.file("no-such-dir/panel.bin") + ": No such file or directory"}));
    const Lines lines = log();
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{"", ""}));  // the dump's end, then the error's
    EXPECT_EQ(writes(), (Writes{kB, kEr, kI}));
}

TEST_F(EdidOps, FileThatCannotBeWrittenWholeIsAnErrorNotASave) {
    const std::string full = "/dev/full";
    if (!fs::exists(full)) GTEST_SKIP() << "no " << full << " to fill";
    ui_.chooseNext(full);

    EXPECT_FALSE(read());

    EXPECT_EQ(ui_.errors(), (Lines{"Ошибка записи файла."}));
    const Lines lines = log();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{"Save the file: ", full, "Error writing the file: /dev/full: No space left on device"}));
    EXPECT_TRUE(fs::exists(full));  // only a regular file is removed
}

TEST_F(EdidOps, OddStatusClosesTheLinkWithoutAMessageOrEndByte) {
    auto programmer = std::make_shared<kjsim::Programmer>("V41");
    programmer->addChip(std::make_shared<OddStatusEeprom>());
    auto slot = kjsim::SimSlot::programmer(programmer);
    kjsim::SimBridge bridge({slot});
    kj::ImageTool edid(bridge, ui_, kj::edid::kFamily);

    EXPECT_FALSE(ran(edid, false));
    EXPECT_EQ(log(), join({kLinkLines, {"Reading EEPROM ..."}}));
    EXPECT_EQ(edid.sessions<kj::EdidSessions>().lastStatus(), "XY");
    EXPECT_TRUE(ui_.dialogs().empty());

    const auto path = dir_.file("in.bin");
    const Bytes image = ramp(kj::kEdidImageSize);
    writeFile(path, image);
    ui_.chooseNext(path);
    EXPECT_FALSE(ran(edid, true));
    EXPECT_EQ(log(), join({kLinkLines, {"Writing EEPROM ..."}, dumpOf(image), {""}}));

    EXPECT_EQ(slot->writes(), (Writes{kB, kEr, kB, kEw, image}));
    EXPECT_FALSE(slot->isOpen());
}

// ---- write ----

Lines writeLog(const Bytes& image, const std::string& last) {
    return join({kLinkLines, {"Writing EEPROM ..."}, dumpOf(image), {"", last}});
}

const std::string kWriteOk = "Writing data to EEPROM is completed successfully.";

TEST_F(EdidOps, WriteSendsTheImageInOneWriteAndEndsWithI) {
    const Bytes image = ramp(kj::kEdidImageSize, 0x40);

    EXPECT_TRUE(writeFileToEeprom(image));

    EXPECT_EQ(log(), writeLog(image, kWriteOk));
    EXPECT_EQ(ui_.clears(), 1);
    EXPECT_EQ(writes(), (Writes{kB, kEw, image, kI}));
    EXPECT_TRUE(linkClosed());
    EXPECT_EQ(eeprom().flash(), image);
    EXPECT_EQ(tool_.sessions<kj::EdidSessions>().fileName(), dir_.file("in.bin"));
    ASSERT_EQ(ui_.dialogs().size(), 1u);
    const auto dialog = ui_.dialogs()[0];
    EXPECT_EQ(dialog.kind, kj::FileDialogSpec::Kind::Open);
    EXPECT_EQ(dialog.title, "Укажите файл за заливки.");
    EXPECT_EQ(dialog.filter, "BIN файлы EEPROM (*.bin)|*.bin|Другие|*.*");
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0], kj::describeEdid(kj::decodeEdid(image)));
    EXPECT_EQ(ui_.wireAtShow[0], 0u);  // shown before the link opened
}

TEST_F(EdidOps, ShortFileIsPaddedWithFFAndLongFileCutTo256) {
    Bytes padded = ramp(128, 1);
    padded.resize(kj::kEdidImageSize, 0xFF);
    const Bytes long300 = ramp(300, 7);
    const Bytes first256(long300.begin(), long300.begin() + kj::kEdidImageSize);
    struct Case {
        const char* name;
        Bytes file, written;
    };
    for (const auto& c : {Case{"300 bytes", long300, first256}, Case{"128 bytes", ramp(128, 1), padded}}) {
        SCOPED_TRACE(c.name);
        slot().clearRecord();

        EXPECT_TRUE(writeFileToEeprom(c.file));

        EXPECT_EQ(writes(), (Writes{kB, kEw, c.written, kI}));
        EXPECT_EQ(eeprom().flash(), c.written);
        EXPECT_EQ(log(), writeLog(c.written, kWriteOk));
    }
    const Lines lines = log();
    ASSERT_GT(lines.size(), 12u);
    EXPECT_EQ(lines[12], ": FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ................");  // offset 128
}

TEST_F(EdidOps, WriteAnsweredERSendsO) {
    eeprom().writeProtected = true;
    const Bytes image = ramp(kj::kEdidImageSize);

    EXPECT_FALSE(writeFileToEeprom(image));

    EXPECT_EQ(log(), writeLog(image, "EEPROM does not respond, or write error! WP 7 pin = '0' ?"));
    EXPECT_EQ(writes(), (Writes{kB, kEw, image, kO}));
    EXPECT_TRUE(linkClosed());
    EXPECT_EQ(eeprom().flash(), kjsim::builtInPanelEdid());
    EXPECT_EQ(tool_.sessions<kj::EdidSessions>().lastStatus(), "ER");
}

TEST_F(EdidOps, WriteThatWaitsInVainForTheReadyByteSendsNoImage) {
    eeprom().silent = true;
    expectTimeOut();

    EXPECT_FALSE(writeFileToEeprom(ramp(kj::kEdidImageSize)));

    EXPECT_EQ(log(), join({kLinkLines, {"Writing EEPROM ...", "The programmer does not answer (time-out)."}}));
    EXPECT_EQ(writes(), (Writes{kB, kEw, kO}));
    EXPECT_TRUE(linkClosed());
}

TEST_F(EdidOps, WriteThatWaitsInVainForTheStatusSendsO) {
    bench_.programmer->faults.silentFromStep = 3;  // 'B', ready, then nothing
    expectTimeOut();
    const Bytes image = ramp(kj::kEdidImageSize);

    EXPECT_FALSE(writeFileToEeprom(image));

    EXPECT_EQ(log(), writeLog(image, "The programmer does not answer (time-out)."));
    EXPECT_EQ(writes(), (Writes{kB, kEw, image, kO}));
    EXPECT_TRUE(linkClosed());
}

// A write that cannot go ahead never opens the link.
TEST_F(EdidOps, OpenCancelledLeavesTheEepromUntouched) {
    ui_.chooseNext(std::nullopt);

    EXPECT_FALSE(write());

    EXPECT_EQ(log(), (Lines{"Write cancelled: nothing was written."}));
    EXPECT_TRUE(untouched());
    EXPECT_TRUE(shown_.empty());
}

TEST_F(EdidOps, FileThatCannotBeOpenedOrIsNoFileShowsTheErrorBox) {
    for (const std::string& path : {dir_.file("missing.bin"), dir_.path().string()}) {
        ui_.chooseNext(path);
        EXPECT_FALSE(write());
    }
    EXPECT_EQ(ui_.errors(),
              (Lines{"Ошибка открытия файла.\n" + dir_.file("missing.bin") + ": No such file or directory",
                     "Ошибка открытия файла.\n" + dir_.path().string() + ": is a directory"}));
    EXPECT_TRUE(untouched());
}

// ---- the bad-base-block question ----

TEST_F(EdidOps, SaneBaseBlockAsksNothingWhateverFollowsBeyondTheExtensionCount) {
    answer(kj::kAnswerCancel);
    Bytes image = kjsim::builtInPanelEdid();            // no extension
    std::fill(image.begin() + 128, image.end(), 0x33);  // not an extension block: not judged

    EXPECT_TRUE(writeFileToEeprom(image));

    EXPECT_TRUE(questions().empty());
    EXPECT_EQ(eeprom().flash(), image);
}

TEST_F(EdidOps, BadChecksumCancelledLogsTheInterruptionAndWritesNothing) {
    answer(kj::kAnswerCancel);

    EXPECT_FALSE(writeFileToEeprom(badChecksumImage()));

    ASSERT_EQ(questions().size(), 1u);
    EXPECT_EQ(questions()[0].find("the header"), std::string::npos) << questions()[0];
    EXPECT_NE(questions()[0].find("the checksum is 0x"), std::string::npos) << questions()[0];
    EXPECT_EQ(log(), (Lines{"Write cancelled: nothing was written."}));
    EXPECT_TRUE(untouched());
    EXPECT_EQ(eeprom().flash(), kjsim::builtInPanelEdid());
}

TEST_F(EdidOps, BadChecksumFixedWritesTheCorrectedImageAndShowsIt) {
    answer(kj::kAnswerFix);

    EXPECT_TRUE(writeFileToEeprom(badChecksumImage()));

    EXPECT_EQ(questions().size(), 1u);
    const Bytes fixed = kjsim::builtInPanelEdid();
    EXPECT_EQ(writes(), (Writes{kB, kEw, fixed, kI}));
    EXPECT_EQ(log(), writeLog(fixed, kWriteOk));
    ASSERT_EQ(shown_.size(), 2u);
    EXPECT_EQ(shown_.back(), kj::describeEdid(kj::decodeEdid(fixed)));
    EXPECT_NE(shown_.front(), shown_.back());
}

TEST_F(EdidOps, BadChecksumWrittenAsItIsWhenSoAnswered) {
    answer(kj::kAnswerAsIs);
    EXPECT_TRUE(writeFileToEeprom(badChecksumImage()));
    EXPECT_EQ(questions().size(), 1u);
    EXPECT_EQ(eeprom().flash(), badChecksumImage());
}

TEST_F(EdidOps, BadHeaderIsAskedAboutAndFixingLeavesIt) {
    answer(kj::kAnswerFix);
    Bytes image = kjsim::builtInPanelEdid();
    image[0] = 0x01;  // header and checksum both wrong

    EXPECT_TRUE(writeFileToEeprom(image));

    ASSERT_EQ(questions().size(), 1u);
    EXPECT_NE(questions()[0].find("the header is not"), std::string::npos) << questions()[0];
    const Bytes written = eeprom().flash();
    EXPECT_EQ(written[0], 0x01);
    EXPECT_EQ(written[127], static_cast<uint8_t>(kjsim::builtInPanelEdid()[127] - 1));
}

}  // namespace
}  // namespace kjtest
