// The EDID window driven by its buttons, offscreen, with scripted file dialogs
// and the real bad-base-block question answered by clicking its buttons.
#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>

#include "common/text.h"
#include "edid/edid_window.h"
#include "edid_fixture.h"
#include "sim/eeprom_chip.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

Lines linesOf(const QPlainTextEdit* memo) {
    const QString text = memo->toPlainText();
    if (text.isEmpty()) return {};
    Lines lines;
    for (const auto& line : text.split('\n')) lines.push_back(line.toStdString());
    return lines;
}

// Clicks `button` of the next message box once its event loop runs.
class MessageBoxAnswer : public QObject {
public:
    explicit MessageBoxAnswer(const char* button) : button_(button) {
        connect(&timer_, &QTimer::timeout, this, [this] { tryAnswer(); });
        timer_.start(10);
    }
    int asked = 0;
    QString text;

private:
    void tryAnswer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        ++asked;
        text = box->text();
        for (auto* b : box->buttons()) {
            if (b->text() == QString::fromLatin1(button_)) {
                timer_.stop();
                b->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << button_;
        box->reject();
    }
    const char* button_;
    QTimer timer_;
};

class EdidWindow : public testing::Test {
protected:
    EdidWindow()
        : bench_(kjsim::makeBench({})),
          slot_(kjsim::SimSlot::programmer(bench_.programmer)),
          context_{kjsim::bridgesTo(slot_), desktop_} {
        window_ = std::make_unique<kj::EdidWindow>(context_, &launcher_);
    }

    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    ScriptedDesktop desktop_;
    kj::AppContext context_;
    QWidget launcher_;
    std::unique_ptr<kj::EdidWindow> window_;
    ScratchDir dir_;
};

TEST_F(EdidWindow, ReadFillsTheLogAndTheInfoPanelAndSavesTheImage) {
    const auto path = dir_.file("panel.bin");
    desktop_.choices.push_back(QString::fromStdString(path));
    window_->show();

    ASSERT_TRUE(kjtest::clickAndSettle(child<QPushButton>(*window_, "EDID_READ"), *window_));

    const Bytes image = kjsim::builtInPanelEdid();
    EXPECT_EQ(linesOf(child<QPlainTextEdit>(*window_, "EDID_Memo")),
              join({kLinkLines,
                    {"Reading EEPROM ...", "Reading from the EEPROM is completed successfully."},
                    kj::hexDump(image),
                    {"", "Save the file: ", path, imageLine("Read", image), "PASSED"}}));
    EXPECT_EQ(child<QLabel>(*window_, "Verdict")->text(), "PASSED");
    // The verdict sits under the text, and the last line stays in view above it.
    auto* log = child<QPlainTextEdit>(*window_, "EDID_Memo");
    EXPECT_FALSE(child<QWidget>(*window_, "Verdict_bar")->geometry().intersects(log->viewport()->geometry()));
    QTextCursor end(log->document());
    end.movePosition(QTextCursor::End);
    EXPECT_TRUE(log->viewport()->rect().contains(log->cursorRect(end)));
    EXPECT_EQ(linesOf(child<QPlainTextEdit>(*window_, "EDID_Info")), kj::describeEdid(kj::decodeEdid(image)));
    EXPECT_EQ(readFile(path), image);
    ASSERT_EQ(desktop_.dialogs.size(), 1u);
    EXPECT_EQ(desktop_.dialogs[0].title, "Укажите имя файла для сохранения.");
    EXPECT_TRUE(child<QPushButton>(*window_, "EDID_READ")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*window_, "EDID_WRITE")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*window_, "EXIT_EDID")->isEnabled());
}

TEST_F(EdidWindow, BadChecksumIsAskedAboutAndFixedBeforeWriting) {
    const auto path = dir_.file("bad.bin");
    writeFile(path, badChecksumImage());
    desktop_.choices.push_back(QString::fromStdString(path));
    desktop_.choices_made.push_back(kj::kAnswerFix);

    ASSERT_TRUE(kjtest::clickAndSettle(child<QPushButton>(*window_, "EDID_WRITE"), *window_));

    // The image first, then once before anything is written: the chip, the file's size and CRC32, where the backup
    // goes.
    ASSERT_EQ(desktop_.questions.size(), 2);
    const auto good = kjsim::builtInPanelEdid()[127];
    EXPECT_TRUE(desktop_.questions[0].contains(QString::asprintf("0x%02X", unsigned{good})));
    EXPECT_EQ(bench_.chip<kjsim::EepromChip>().flash(), kjsim::builtInPanelEdid());
    EXPECT_TRUE(desktop_.questions[1].contains("EEPROM lcd (EDID)"));
    EXPECT_TRUE(desktop_.questions[1].contains(QString::fromStdString(path)));
    EXPECT_TRUE(
        desktop_.questions[1].contains("256 bytes, CRC32 " + QString::fromStdString(kj::crc32Hex(badChecksumImage()))));
    EXPECT_TRUE(desktop_.questions[1].contains("backups"));
    const Lines lines = linesOf(child<QPlainTextEdit>(*window_, "EDID_Memo"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Writing data to EEPROM is completed successfully."), lines.end());
    EXPECT_EQ(tail(lines, 2), (Lines{doneLine("Read-back", kjsim::builtInPanelEdid()), "PASSED"}));
    EXPECT_EQ(linesOf(child<QPlainTextEdit>(*window_, "EDID_Info")),
              kj::describeEdid(kj::decodeEdid(kjsim::builtInPanelEdid())));
}

TEST_F(EdidWindow, BadChecksumCancelledWritesNothing) {
    const auto path = dir_.file("bad.bin");
    writeFile(path, badChecksumImage());
    desktop_.choices.push_back(QString::fromStdString(path));
    desktop_.choices_made.push_back(kj::kAnswerCancel);

    ASSERT_TRUE(kjtest::clickAndSettle(child<QPushButton>(*window_, "EDID_WRITE"), *window_));

    EXPECT_EQ(desktop_.questions.size(), 1);
    // Nothing reaches the programmer; a user's no is no verdict.
    EXPECT_EQ(linesOf(child<QPlainTextEdit>(*window_, "EDID_Memo")), (Lines{"Write cancelled: nothing was written."}));
    EXPECT_TRUE(slot_->calls().empty());
    EXPECT_EQ(child<QPlainTextEdit>(*window_, "EDID_Memo")->viewport()->findChild<QLabel*>("Verdict"), nullptr);
    EXPECT_EQ(bench_.chip<kjsim::EepromChip>().flash(), kjsim::builtInPanelEdid());
    // No summary stays of an image that was not written.
    EXPECT_TRUE(linesOf(child<QPlainTextEdit>(*window_, "EDID_Info")).empty());
    EXPECT_FALSE(slot_->isOpen());
}

TEST_F(EdidWindow, ExitClearsLogAndPanelAndReturnsToTheLauncher) {
    desktop_.choices.push_back(std::nullopt);
    window_->show();
    ASSERT_TRUE(kjtest::clickAndSettle(child<QPushButton>(*window_, "EDID_READ"), *window_));
    ASSERT_FALSE(child<QPlainTextEdit>(*window_, "EDID_Memo")->toPlainText().isEmpty());

    child<QPushButton>(*window_, "EXIT_EDID")->click();

    EXPECT_TRUE(child<QPlainTextEdit>(*window_, "EDID_Memo")->toPlainText().isEmpty());
    EXPECT_TRUE(child<QPlainTextEdit>(*window_, "EDID_Info")->toPlainText().isEmpty());
    EXPECT_TRUE(launcher_.isVisible());
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(EdidWindow, InfoPanelIsTitledAndStandsRightOfTheLog) {
    window_->show();
    EXPECT_EQ(window_->windowTitle(), "EEPROM LCD read/write VER4.1");
    EXPECT_EQ(child<QGroupBox>(*window_, "EDID_InfoBox")->title(), "EDID info");
    EXPECT_TRUE(child<QPlainTextEdit>(*window_, "EDID_Info")->isReadOnly());
    EXPECT_TRUE(child<QPlainTextEdit>(*window_, "EDID_Memo")->isReadOnly());
    const QRect log = child<QPlainTextEdit>(*window_, "EDID_Memo")->geometry();
    const QRect info = child<QGroupBox>(*window_, "EDID_InfoBox")->geometry();
    EXPECT_GE(info.left(), log.right());
    EXPECT_LT(info.top(), log.bottom());
    EXPECT_EQ(child<QPushButton>(*window_, "EDID_READ")->text(), "EDID_READ");
    EXPECT_EQ(child<QPushButton>(*window_, "EDID_WRITE")->text(), "EDID_WRITE");
    EXPECT_EQ(child<QPushButton>(*window_, "EXIT_EDID")->text(), "EXIT");
}

}  // namespace
}  // namespace kjtest
