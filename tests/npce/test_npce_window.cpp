// The NPCE window offscreen: a read and then a write through its buttons, with
// the buttons of each, the log that keeps both, and the way back to the launcher.
#include "npce/npce_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "npce_fixture.h"
#include "sim/npce_chip.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

class NpceWindow : public ::testing::Test {
protected:
    // Slowed down, so that the buttons of a running operation can be seen.
    NpceWindow()
        : bench(kjsim::makeBench({.family = "NPCE", .faults = {.replyDelay = kj::Millis{1}}})),
          slot(kjsim::SimSlot::programmer(bench.programmer)) {}
    kj::AppContext contextWith(kj::Desktop& desktop) { return {kjsim::bridgesTo(slot), desktop}; }

    kjsim::Bench bench;
    std::shared_ptr<kjsim::SimSlot> slot;
    QWidget launcher;
    ScratchDir dir;
};

TEST_F(NpceWindow, ReadThenWriteThroughTheButtonsKeepsOneLog) {
    ScriptedDesktop desktop;
    kj::AppContext context = contextWith(desktop);
    kj::NpceWindow window(context, &launcher);
    window.show();
    EXPECT_EQ(window.windowTitle(), "NPCE288N/388N 16_05_2016");
    EXPECT_EQ(child<QPushButton>(window, "NPCE_READ")->text(), "Nuvoton_READ");
    EXPECT_EQ(child<QPushButton>(window, "NPCE_WRITE")->text(), "Nuvoton_WRITE");
    kj::Operation& op = window.tool().operation();
    const std::string path = dir.file("flash.bin");
    bench.programmer->faults.replyDelay = kj::Millis{1};  // time to look at the buttons meanwhile

    desktop.choices.push_back(QString::fromStdString(path));
    child<QPushButton>(window, "NPCE_READ")->click();
    // Only the read's own button is live while it runs.
    ASSERT_TRUE(begun(op, "Reading_NPCE"));
    EXPECT_TRUE(child<QPushButton>(window, "NPCE_READ")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(window, "NPCE_WRITE")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(window, "EXIT_NPCE")->isEnabled());
    ASSERT_TRUE(runUntil([&] { return op.idle(); }));
    ASSERT_TRUE(op.waitIdle(kj::Millis{kWindowHangBoundMs}));
    EXPECT_TRUE(child<QPushButton>(window, "NPCE_WRITE")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(window, "EXIT_NPCE")->isEnabled());
    EXPECT_EQ(readFile(path), bench.chip<kjsim::NpceChip>().flash());
    EXPECT_EQ(child<kj::Gauge>(window, "CGauge_NPCE")->progress(), 512);
    EXPECT_EQ(child<kj::Gauge>(window, "CGauge_NPCE")->foreColor(), QColor(0, 255, 0));

    // The read's file back into the flash.
    bench.chip<kjsim::NpceChip>().setFlash(npceRandomImage(kNpceImage, 4));
    desktop.choices.push_back(QString::fromStdString(path));
    child<QPushButton>(window, "NPCE_WRITE")->click();
    ASSERT_TRUE(begun(op, "Write_NPCE"));
    EXPECT_FALSE(child<QPushButton>(window, "NPCE_READ")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(window, "NPCE_WRITE")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(window, "EXIT_NPCE")->isEnabled());
    ASSERT_TRUE(runUntil([&] { return op.idle(); }));
    ASSERT_TRUE(op.waitIdle(kj::Millis{kWindowHangBoundMs}));
    EXPECT_TRUE(child<QPushButton>(window, "NPCE_READ")->isEnabled());
    EXPECT_TRUE(op.lastSucceeded());
    EXPECT_EQ(bench.chip<kjsim::NpceChip>().flash(), readFile(path));
    // One log: the read, then the write after its backup, each with its verdict.
    const Lines lines = memoLines(child<QPlainTextEdit>(window, "NPCE_Memo"));
    const Lines read = join({npceReadLines(path), {imageLine("Read", readFile(path)), "PASSED"}});
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(std::min(read.size(), lines.size()))), read);
    const Lines write = join({npceWriteLines(path),
                              {"Verify ...", "Nuvoton chip is programmed succesfully!", kStamp,
                               "Read-back: reading the chip ...", doneLine("Read-back", readFile(path)), "PASSED"}});
    EXPECT_EQ(tail(lines, write.size()), write);
    EXPECT_EQ(child<kj::Gauge>(window, "CGauge_NPCE")->maxValue(), 512);
    // The verify's yellow gives way to the verdict's green.
    EXPECT_EQ(child<kj::Gauge>(window, "CGauge_NPCE")->foreColor(), QColor(0, 255, 0));
    ASSERT_EQ(desktop.dialogs.size(), 2u);
    EXPECT_EQ(desktop.dialogs[1].title, "Укажите файл за заливки.");
    EXPECT_EQ(desktop.dialogs[1].filter, "BIN файл NPCE (*.bin)|*.bin|Другие|*.*");

    // EXIT leaves the log as it is.
    child<QPushButton>(window, "EXIT_NPCE")->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(launcher.isVisible());
    EXPECT_EQ(memoLines(child<QPlainTextEdit>(window, "NPCE_Memo")), lines);
}

// The identification runs beside the window; the save dialog it opens still
// takes what the user types into it.
TEST_F(NpceWindow, TheSaveDialogTakesTheUsersKeysWhileTheReadStarts) {
    kj::QtDesktop desktop;
    kj::AppContext context = contextWith(desktop);
    kj::NpceWindow window(context, &launcher);
    window.show();
    const std::string path = dir.file("typed.bin");
    const DialogTypist typist(path, kWindowHangBoundMs / 3);
    child<QPushButton>(window, "NPCE_READ")->click();
    ASSERT_TRUE(runUntil([&] { return window.tool().operation().idle(); }));
    EXPECT_EQ(typist.dialogsTyped(), 1);
    EXPECT_EQ(readFile(path), bench.chip<kjsim::NpceChip>().flash());
}

}  // namespace
}  // namespace kjtest
