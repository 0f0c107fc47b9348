// The KB90xx window offscreen: a read through its buttons and its worker, the
// way back to the launcher, and the cable help group over a base file.
#include "kb90xx/kb90xx_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "common/history.h"

#include "kb90xx/cable_help.h"
#include "kb90xx_fixture.h"
#include "sim/kb90xx_chip.h"
#include "sim/sim_bridge.h"
#include "support/recording_frontend.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

const QColor kYellow(255, 255, 0);
const std::string kBoard = "Плата LA-1234 KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=16";

QColor chooserColour(const QComboBox* chooser) { return chooser->palette().color(QPalette::Base); }

class Kb90xxWindow : public ::testing::Test {
protected:
    Kb90xxWindow()
        : bench_(kjsim::makeBench({})),
          slot_(kjsim::SimSlot::programmer(bench_.programmer)),
          context_{kjsim::bridgesTo(slot_), desktop_} {
        launcher_ = std::make_unique<QWidget>();
    }

    fs::path basePath() const { return dir_.path() / "korvel-jig" / "MB connection KB901X.txt"; }
    void writeBase(const std::string& bytes) {
        fs::create_directories(basePath().parent_path());
        writeFile(basePath().string(), Bytes(bytes.begin(), bytes.end()));
    }
    std::unique_ptr<kj::Kb90xxWindow> makeWindow() {
        auto window = std::make_unique<kj::Kb90xxWindow>(context_, launcher_.get());
        launcher_->hide();
        window->show();
        return window;
    }

    ScratchDir dir_;
    DataHome dataHome_{dir_.path()};
    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    ScriptedDesktop desktop_;
    kj::AppContext context_;
    std::unique_ptr<QWidget> launcher_;
};

TEST_F(Kb90xxWindow, ReadRunsOnTheWorkerWithTheButtonsOfARead) {
    auto window = makeWindow();
    const std::string path = dir_.file("flash.bin");
    desktop_.choices.push_back(QString::fromStdString(path));
    bench_.programmer->faults.replyDelay = kj::Millis{1};  // a loaded machine still sees the read under way
    child<QPushButton>(*window, "KB901X_READ")->click();

    // The worker has set the name and the window shows the buttons of a read.
    ASSERT_TRUE(begun(window->tool().operation(), "Reading"));
    EXPECT_TRUE(child<QPushButton>(*window, "KB901X_READ")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*window, "KB901X_WRITE")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*window, "EXIT_KB901X")->isEnabled());
    EXPECT_STREQ(window->tool().operation().name().get(), "Reading");

    ASSERT_TRUE(runUntil([&] { return window->tool().operation().idle(); }, kWindowHangBoundMs));
    ASSERT_TRUE(window->tool().operation().waitIdle(std::chrono::milliseconds(kWindowHangBoundMs)));
    EXPECT_TRUE(child<QPushButton>(*window, "KB901X_READ")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*window, "KB901X_WRITE")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*window, "EXIT_KB901X")->isEnabled());

    EXPECT_EQ(slot_->written(), readTranscript());
    EXPECT_EQ(readFile(path), bench_.chip<kjsim::Kb90xxChip>().flash());
    EXPECT_EQ(memoLines(child<QPlainTextEdit>(*window, "KB901X_Memo")),
              join({kStartLines,
                    {"Save the file: ", path, "Reading KB9012 ...", kStamp, "Reading completed successfully.", kStamp,
                     imageLine("Read", readFile(path)), "PASSED"}}));
    EXPECT_EQ(child<kj::Gauge>(*window, "CGauge_KB901X")->maxValue(), 32768);
    EXPECT_EQ(child<kj::Gauge>(*window, "CGauge_KB901X")->progress(), 32768);
    EXPECT_EQ(child<kj::Gauge>(*window, "CGauge_KB901X")->foreColor(), QColor(0, 255, 0));
    ASSERT_EQ(desktop_.dialogs.size(), 1u);
    EXPECT_EQ(desktop_.dialogs[0].title, kj::kb90xxSaveDialog().title);
    EXPECT_EQ(desktop_.dialogs[0].defaultName, "Noname");
}

// A write that fails on a dead cell offers the board's own firmware back
// beside its verdict: one click and the one question bring it back, read back
// and PASSED. The job typed into the window names the read's file, the
// backups and the history's rows.
TEST_F(Kb90xxWindow, AFailedWriteOffersTheBackupTakenBeforeItBesideTheVerdict) {
    constexpr size_t kDead = 0x2A51;
    auto& chip = bench_.chip<kjsim::Kb90xxChip>();
    Bytes original = randomImage(kImage, 3);
    original[kDead] = 0xFF;  // where an erase leaves the dead cell
    chip.setFlash(original);
    chip.setDeadCell(kDead);
    auto window = makeWindow();
    auto* job = child<QLineEdit>(*window, "Board_job");
    job->setFocus();
    QTest::keyClicks(job, "ZBook 15/G3");
    QTest::keyClick(job, Qt::Key_Return);
    EXPECT_EQ(job->text(), "ZBook_15_G3");
    desktop_.choices.push_back(std::nullopt);
    ASSERT_TRUE(clickAndSettle(child<QPushButton>(*window, "KB901X_READ"), *window));
    ASSERT_EQ(desktop_.dialogs.size(), 1u);
    EXPECT_EQ(desktop_.dialogs[0].defaultName, "ZBook_15_G3-kb90xx");

    Bytes image = randomImage(kImage, 4);
    image[kDead] = 0x00;
    const std::string input = dir_.file("new.bin");
    writeFile(input, image);
    desktop_.choices.push_back(QString::fromStdString(input));
    ASSERT_TRUE(clickAndSettle(child<QPushButton>(*window, "KB901X_WRITE"), *window));
    EXPECT_EQ(child<QLabel>(*window, "Verdict")->text().left(8), "FAILED: ");
    auto* restore = child<QPushButton>(*window, "Restore_backup");
    ASSERT_TRUE(restore->isVisible());
    EXPECT_EQ(restore->text(), "Restore the backup taken before this write");
    const std::string backup = restore->toolTip().toStdString();
    EXPECT_NE(backup.find("-ZBook_15_G3-kb90xx-before-write-"), std::string::npos) << backup;
    EXPECT_EQ(readFile(backup), original);
    // The failure's other way out: the family's backups, this one among them.
    child<QPushButton>(*window, "Show_backups")->click();
    auto* list = child<QTableWidget>(*window, "Backups_table");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 8)->text().toStdString(), backup);
    EXPECT_EQ(list->item(0, 4)->text(), "FAILED");
    child<QPushButton>(*window, "Backups_show_in_folder")->click();
    EXPECT_EQ(desktop_.shownFolders, QStringList{QString::fromStdString(backup)});
    child<QWidget>(*window, "Backups_window")->hide();

    desktop_.questions.clear();
    ASSERT_TRUE(clickAndSettle(restore, *window));
    ASSERT_EQ(desktop_.questions.size(), 1);
    EXPECT_TRUE(desktop_.questions[0].contains(QString::fromStdString(backup))) << desktop_.questions[0].toStdString();
    EXPECT_TRUE(desktop_.questions[0].contains("KB9010/12/16/22")) << desktop_.questions[0].toStdString();
    EXPECT_EQ(child<QLabel>(*window, "Verdict")->text(), "PASSED");
    EXPECT_FALSE(restore->isVisible());
    EXPECT_EQ(chip.flash(), original);

    kj::history::Store store;
    const auto rows = store.operations({.job = "ZBook_15_G3"});
    ASSERT_TRUE(rows.ok());
    Lines actions;
    for (const auto& row : *rows) actions.push_back(row.action + " " + row.verdict);
    EXPECT_EQ(Lines(actions.begin(), actions.begin() + std::min<long>(2, std::ssize(actions))),
              (Lines{"restore PASSED", "write FAILED"}));
    EXPECT_EQ(rows->front().file, backup);
}

TEST_F(Kb90xxWindow, CableHelpFollowsTheChoices) {
    writeBase(kBoard + "\r\n\nKSO3=5, KSI4=12 KSI7=14 KSI6=15 KSI5=16\nunlisted");
    auto window = makeWindow();
    auto* boards = child<QComboBox>(*window, "ComboBox_KB901X");
    auto* cables = child<QComboBox>(*window, "ComboBox_KB901X_FFC");

    ASSERT_EQ(boards->count(), 3);
    EXPECT_EQ(boards->itemText(0).toStdString(), kBoard);
    EXPECT_EQ(boards->itemText(1), "");
    EXPECT_EQ(boards->currentText(), "Step 1 -> Select MB");
    EXPECT_EQ(cables->currentText(), "Step 2 -> Select FFC cable you used");
    EXPECT_EQ(cables->count(), 8);
    EXPECT_TRUE(boards->isEnabled());
    EXPECT_TRUE(cables->isEnabled());
    EXPECT_TRUE(child<QCheckBox>(*window, "CheckBox_KB901X")->isEnabled());
    EXPECT_TRUE(child<QCheckBox>(*window, "CheckBox_KB901X")->isChecked());
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "");
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->toolTip().toStdString(), basePath().string());
    EXPECT_EQ(chooserColour(boards), kYellow);
    EXPECT_EQ(chooserColour(cables), kYellow);

    // Before both are picked the check box changes nothing but its mark.
    child<QCheckBox>(*window, "CheckBox_KB901X")->click();
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "");
    child<QCheckBox>(*window, "CheckBox_KB901X")->click();

    choose(boards, 0);
    EXPECT_NE(chooserColour(boards), kYellow);
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "");
    // The typing limit does not cut a chosen entry.
    EXPECT_EQ(boards->currentText().toStdString(), kBoard);

    choose(cables, 2);  // "24 pin"
    EXPECT_NE(chooserColour(cables), kYellow);
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "Please connect GND and:  A5 B12 C14 D15 E16");
    child<QCheckBox>(*window, "CheckBox_KB901X")->click();
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "Please connect GND and:  A20 B13 C11 D10 E9");
    choose(cables, 0);  // "18 pin"
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "Please connect GND and:  A14 B7 C5 D4 E3");

    // A malformed value is reported with the base it came from; the label keeps
    // its text, struck out as not belonging to the board now chosen.
    choose(boards, 2);
    EXPECT_EQ(desktop_.errors,
              QStringList{"'5,' is not a valid pin number (KSO3=)\n" + QString::fromStdString(basePath().string())});
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "Please connect GND and:  A14 B7 C5 D4 E3");
    EXPECT_TRUE(child<QLabel>(*window, "Label_result")->font().strikeOut());
    choose(boards, 1);
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "Error data format!");
    EXPECT_FALSE(child<QLabel>(*window, "Label_result")->font().strikeOut());

    // A board typed and confirmed with Return is read as it stands.
    boards->lineEdit()->setText("X KSO3=1 KSI4=2");
    emit boards->lineEdit()->returnPressed();
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(), "Error data format!");
    boards->lineEdit()->setText("KSO3=1 KSI4=2 KSI7=3 KSI6=4 KSI5=5");
    emit boards->lineEdit()->returnPressed();
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text(),
              "Please connect GND and:  A18 B17 C16 D15 E14");  // 18 pin, reversed
}

TEST_F(Kb90xxWindow, WithoutABaseTheGroupStaysDisabled) {
    auto window = makeWindow();
#ifdef _WIN32
    // Where technicians keep their bases, and where the messages point when there is none.
    const fs::path missing = "C:\\MB connection KB901X.txt";
#else
    const fs::path missing = basePath();
#endif
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->text().toStdString(),
              "Create base of connections KB90XX !\n" + missing.string() +
                  "\nOne motherboard per line: <board name> KSO3=nn KSI4=nn KSI7=nn KSI6=nn KSI5=nn");
    EXPECT_EQ(child<QLabel>(*window, "Label_result")->toolTip().toStdString(),
              missing.string() + ": No such file or directory");
    EXPECT_FALSE(child<QComboBox>(*window, "ComboBox_KB901X")->isEnabled());
    EXPECT_FALSE(child<QComboBox>(*window, "ComboBox_KB901X_FFC")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>(*window, "CheckBox_KB901X")->isEnabled());
    EXPECT_NE(chooserColour(child<QComboBox>(*window, "ComboBox_KB901X")), kYellow);
    EXPECT_NE(chooserColour(child<QComboBox>(*window, "ComboBox_KB901X_FFC")), kYellow);
    EXPECT_EQ(child<QComboBox>(*window, "ComboBox_KB901X")->count(), 0);
    EXPECT_EQ(window->windowTitle(), "KB9010/9012/9016/9022  programming VER4.1");
}

}  // namespace
}  // namespace kjtest
