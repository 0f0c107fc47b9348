// The MEC16 window offscreen: its form, and the check, a read and the stop
// button's two roles driven through its buttons.
#include "mec16/mec16_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include "mec16_fixture.h"
#include "sim/mec16_chip.h"
#include "sim/sim_bridge.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

class Mec16Window : public ::testing::Test {
protected:
    Mec16Window()
        : bench_(kjsim::makeBench(mec16Bench())),
          slot_(kjsim::SimSlot::programmer(bench_.programmer)),
          context_{kjsim::bridgesTo(slot_), desktop_},
          window_(std::make_unique<kj::Mec16Window>(context_, &launcher_)) {
        window_->show();
    }
    kj::Operation& op() { return window_->tool().operation(); }
    bool idle() { return op().idle() && op().waitIdle(std::chrono::milliseconds(0)); }

    ScratchDir dir_;
    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    ScriptedDesktop desktop_;
    kj::AppContext context_;
    QWidget launcher_;
    std::unique_ptr<kj::Mec16Window> window_;
};

TEST_F(Mec16Window, EveryControlSitsWhereTheFormPutsIt) {
    const std::vector<std::pair<const char*, QRect>> places = {
        {"BitBtn_MEC16", {16, 16, 369, 49}},        {"Shape_BootLock_MEC", {16, 80, 17, 15}},
        {"Label_BootLock_MEC", {48, 80, 248, 16}},  {"Shape_FWP_MEC16", {16, 104, 17, 15}},
        {"Label_MEC16_FWP", {48, 104, 264, 16}},    {"CheckBox_MEC16_RD", {16, 176, 369, 17}},
        {"BitBtn_RD_MEC16", {16, 200, 369, 49}},    {"CheckBox_erase_mec16", {16, 264, 369, 17}},
        {"BitBtn_MEC16_ERASE", {16, 288, 369, 49}}, {"CheckBox_write_mec16", {16, 352, 369, 17}},
        {"BitBtn_MEC16_WRITE", {16, 384, 369, 49}}, {"EXIT_MEC16", {16, 464, 185, 49}},
        {"BitBtn_MEC16_HELP", {216, 464, 169, 49}}, {"Memo_MEC16", {408, 16, 489, 497}},
        {"CGauge_MEC16", {13, 528, 876, 52}},
    };
    for (const auto& [name, place] : places) {
        const auto* control = window_->canvas()->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->geometry(), place) << name;
    }
    EXPECT_EQ(window_->canvas()->size(), QSize(905, 590));
    EXPECT_FALSE(child<QCheckBox>(*window_, "CheckBox_write_mec16")->isEnabled());
    EXPECT_EQ(child<kj::Shape>(*window_, "Shape_FWP_MEC16")->brushColor(), QColor(Qt::black));
    EXPECT_EQ(child<kj::Gauge>(*window_, "CGauge_MEC16")->maxValue(), 768);
    EXPECT_EQ(child<kj::Gauge>(*window_, "CGauge_MEC16")->font().pixelSize(), 27);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(memoLines(child<QPlainTextEdit>(*window_, "Memo_MEC16")),
              (Lines{"Не готова запись INFO блока ", "Перед записью и стиранием флеш читается в резервную копию.",
                     "Не чистый MAIN блок перед записью стирается (с вопросом).",
                     "После записи MAIN блок читается обратно и сравнивается с файлом.", ""}));
}

TEST_F(Mec16Window, CheckThenAReadStoppedByTheStopButtonThenBackToTheLauncher) {
    bench_.chip<kjsim::Mec16Chip>().faults.fwp = true;
    ASSERT_TRUE(clickAndSettle(child<QPushButton>(*window_, "BitBtn_MEC16"), *window_));
    EXPECT_TRUE(idle());
    EXPECT_EQ(child<kj::Shape>(*window_, "Shape_FWP_MEC16")->brushColor(), QColor(255, 0, 0));
    EXPECT_EQ(child<kj::Shape>(*window_, "Shape_BootLock_MEC")->brushColor(), QColor(0, 255, 0));
    EXPECT_EQ(bench_.programmer->endBytes(), "O0");

    // A slow read with INFO asked for, stopped during MAIN: the window stays.
    bench_.programmer->faults.replyDelay = kj::Millis{5};
    const std::string path = dir_.file("m.bin");
    desktop_.choices.push_back(QString::fromStdString(path));
    child<QCheckBox>(*window_, "CheckBox_MEC16_RD")->setChecked(true);
    child<QPushButton>(*window_, "BitBtn_RD_MEC16")->click();
    ASSERT_TRUE(begun(op(), "READ_MAIN"));
    ASSERT_TRUE(runUntil([&] { return child<kj::Gauge>(*window_, "CGauge_MEC16")->progress() >= 2; }));
    EXPECT_EQ(child<kj::Gauge>(*window_, "CGauge_MEC16")->maxValue(), 192);
    EXPECT_EQ(child<kj::Gauge>(*window_, "CGauge_MEC16")->foreColor(), QColor(0, 255, 0));
    child<QPushButton>(*window_, "EXIT_MEC16")->click();
    EXPECT_TRUE(window_->isVisible());
    ASSERT_TRUE(runUntil([&] { return idle(); }));
    const Lines lines = memoLines(child<QPlainTextEdit>(*window_, "Memo_MEC16"));
    EXPECT_EQ(
        tail(lines, 8),
        join({{"Пользователь прервал операцию чтения."}, kClosingLines, kEndLines, {"FAILED: чтение не удалось"}}));
    const Bytes kept = readFile(path);
    const Bytes main = bench_.chip<kjsim::Mec16Chip>().main();
    EXPECT_EQ(kept.size() % 1024, 0u);
    EXPECT_GE(kept.size(), 2 * 1024u);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), main.begin()));
    EXPECT_EQ(bench_.programmer->endBytes(), "O00O");

    child<QPushButton>(*window_, "EXIT_MEC16")->click();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_TRUE(launcher_.isVisible());
}

// The real file dialog, typed into through its window as the window system
// delivers keys, while the read's start runs beside the window thread.
TEST(Mec16WindowDesktop, TheSaveDialogTakesTheUsersKeysWhileTheReadStarts) {
    ScratchDir dir;
    auto bench = kjsim::makeBench(mec16Bench());
    auto slot = kjsim::SimSlot::programmer(bench.programmer);
    kj::QtDesktop desktop;
    kj::AppContext context{kjsim::bridgesTo(slot), desktop};
    QWidget launcher;
    kj::Mec16Window window(context, &launcher);
    window.show();
    const std::string path = dir.file("typed.bin");
    const DialogTypist typist(path);
    child<QPushButton>(window, "BitBtn_RD_MEC16")->click();
    ASSERT_TRUE(runUntil([&] { return window.tool().operation().waitIdle(std::chrono::milliseconds(0)); }));
    EXPECT_EQ(typist.dialogsTyped(), 1);
    EXPECT_EQ(readFile(path), bench.chip<kjsim::Mec16Chip>().main());
}

}  // namespace
}  // namespace kjtest
