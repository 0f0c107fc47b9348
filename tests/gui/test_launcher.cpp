// The launcher and the way between the windows, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

#include <fstream>
#include <optional>

#include "app/launcher.h"
#include "common/journal.h"
#include "kb90xx/kb90xx_window.h"
#include "sim/bench.h"
#include "sim/sim_bridge.h"
#include "support/scratch.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

using namespace kj;
using kjtest::child;

namespace {

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<kj::Launcher>(context);
        form->show();
    }

    kjtest::ScriptedDesktop desktop;
    AppContext context{[](std::string_view family) -> std::unique_ptr<Bridge> {
                           auto p = std::make_shared<kjsim::Programmer>(family);
                           return std::make_unique<kjsim::SimBridge>(
                               std::vector<std::shared_ptr<kjsim::SimSlot>>{kjsim::SimSlot::programmer(p)});
                       },
                       desktop};
    std::unique_ptr<kj::Launcher> form;
};

}  // namespace

// As high as its buttons need: 638 px with the program's six tools, a
// button's pitch more for each other one; no higher than the screen.
TEST_F(LauncherTest, StartsWithOnlyTheLauncherVisible) {
    EXPECT_EQ(form->windowTitle(), "Korvel_JIG  VER4.9  16/05/2016");
    const int wanted = 638 + 85 * (static_cast<int>(kj::toolWindows().size()) - 6);
    const int room = form->screen()->availableGeometry().height();
    if (wanted <= room) {
        EXPECT_EQ(form->size(), QSize(524, wanted));
    } else {
        EXPECT_EQ(form->height(), room);
    }
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(form->tools().size(), kj::toolWindows().size());
    for (const auto& t : form->tools()) EXPECT_FALSE(t.window->isVisible()) << t.window->windowTitle().toStdString();
    EXPECT_FALSE(static_cast<QWidget*>(form->connectionTest())->isVisible());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowCloseButtonHint);
}

// A button per registered window, with its family's name and caption, in the
// families' places from the top.
TEST_F(LauncherTest, ButtonsCarryTheirFamiliesCaptionsInTheirPlaces) {
    const auto entries = kj::toolWindows();
    ASSERT_EQ(form->tools().size(), entries.size());
    int lastPlace = -1;
    int lastTop = -1;
    for (size_t i = 0; i < entries.size(); ++i) {
        const kj::Family& family = entries[i]->family;
        EXPECT_GT(family.place, lastPlace) << family.name << ": two families in one place";
        lastPlace = family.place;
        QPushButton* b = form->tools()[i].button;
        EXPECT_EQ(b->objectName(), fromUtf8(family.launcherButton));
        EXPECT_EQ(b->text(), fromUtf8(family.launcherCaption));
        EXPECT_EQ(b->size(), QSize(441, 73));
        EXPECT_EQ(b->font().pixelSize(), 27);
        EXPECT_TRUE(b->font().bold());
        EXPECT_GT(b->y(), lastTop);
        lastTop = b->y();
    }
    EXPECT_EQ(child<QPushButton>(*form, "Exit")->text(), "Exit");
    EXPECT_EQ(child<QPushButton>(*form, "Exit")->size(), QSize(185, 41));
    EXPECT_EQ(child<QPushButton>(*form, "Exit")->font().pixelSize(), 27);
    EXPECT_TRUE(child<QPushButton>(*form, "Exit")->font().bold());
    EXPECT_EQ(child<QPushButton>(*form, "Test_connect")->text(), "USB test");
    EXPECT_EQ(child<QPushButton>(*form, "Test_connect")->size(), QSize(97, 25));
    EXPECT_FALSE(child<QPushButton>(*form, "Test_connect")->toolTip().isEmpty());
}

TEST_F(LauncherTest, EachToolButtonShowsItsWindowAndItsExitOrACloseRequestReturns) {
    for (const auto& t : form->tools()) {
        const std::string name(t.entry->family.name);
        // Every window's EXIT is named for it.
        const auto exits = t.window->findChildren<QPushButton*>(QRegularExpression("EXIT"));
        ASSERT_EQ(exits.size(), 1) << name;
        for (bool byClose : {false, true}) {
            t.button->click();
            EXPECT_TRUE(t.window->isVisible()) << name;
            EXPECT_FALSE(form->isVisible()) << name;
            EXPECT_FALSE(t.window->windowTitle().isEmpty()) << name;
            EXPECT_FALSE(t.window->windowFlags() & Qt::WindowCloseButtonHint) << name;
            if (byClose) {
                t.window->close();  // as the window manager asks it
            } else {
                exits.front()->click();
            }
            EXPECT_FALSE(t.window->isVisible()) << name;
            EXPECT_TRUE(form->isVisible()) << name;
        }
    }
}

TEST_F(LauncherTest, EveryWindowFitsTheScreensAvailableArea) {
    const QRect area = form->screen()->availableGeometry();
    for (const auto& t : form->tools()) {
        t.window->show();
        const QRect frame = t.window->frameGeometry();
        EXPECT_TRUE(area.contains(frame)) << t.window->windowTitle().toStdString();
        t.window->hide();
    }
}

TEST_F(LauncherTest, ConnectionTestOpensBesideTheLauncherAndLogsWhatItFinds) {
    child<QPushButton>(*form, "Test_connect")->click();
    auto* testing = form->connectionTest();
    EXPECT_TRUE(static_cast<QWidget*>(testing)->isVisible());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(static_cast<QWidget*>(testing)->windowTitle(), "Test vcom port and device");
    for (int run = 0; run < 2; ++run) {
        child<QPushButton>(*testing, "BitBtn1")->click();  // on its worker: the button is back once it has ended
        ASSERT_TRUE(kjtest::runUntil([&] { return child<QPushButton>(*testing, "BitBtn1")->isEnabled(); }));
    }
    const QString expected =
        "\nNumber of VCOM ports found on the machine: 1\n>>>\nOpen VCOM0\n"
        "FTDI DRIVER version -> 2.12.24\nPROG version FW -> V41";
    EXPECT_EQ(child<QPlainTextEdit>(*testing, "Test_memo")->toPlainText(), expected + "\n" + expected)
        << "each run adds below the last";
}

// Only operations reach the record, each line under its tool: opening every
// window, instructions and all, records nothing; the connection test records
// under its own name.
TEST_F(LauncherTest, OnlyOperationsReachTheRecordEachUnderItsTool) {
    form.reset();
    kjtest::ScratchDir logs;
    struct Recording {
        explicit Recording(const std::filesystem::path& folder) { kj::journal::start(folder); }
        ~Recording() { kj::journal::stop(); }
    };
    std::optional<Recording> recording(std::in_place, logs.path());
    form = std::make_unique<kj::Launcher>(context);
    form->show();
    for (const auto& t : form->tools()) {
        t.button->click();
        t.window->hide();
    }
    child<QPushButton>(*form, "Test_connect")->click();
    auto* testing = form->connectionTest();
    child<QPushButton>(*testing, "BitBtn1")->click();
    ASSERT_TRUE(kjtest::runUntil([&] { return child<QPushButton>(*testing, "BitBtn1")->isEnabled(); }));
    recording.reset();

    std::vector<std::string> tools;
    for (const auto& day : std::filesystem::directory_iterator(logs.path())) {
        std::ifstream file(day.path());
        for (std::string line; std::getline(file, line);) {
            const auto bar = line.find(" | ");
            ASSERT_NE(bar, std::string::npos) << line;
            tools.push_back(line.substr(24, bar - 24));  // after "YYYY-MM-DD hh:mm:ss.mmm "
        }
    }
    EXPECT_EQ(tools, std::vector<std::string>(6, "test-connect"));
}

// Exit (or SIGTERM, or the session's end) while a read runs ends the read the
// way a stop does, with the failure end byte, and leaves no file.
TEST(LauncherQuit, QuittingDuringAReadEndsItWithTheFailureEndByte) {
    kjtest::ScratchDir dir;
    kjsim::BenchOptions options;
    options.faults.replyDelay = kj::Millis{5};
    const kjsim::Bench bench = kjsim::makeBench(options);
    const auto slot = kjsim::SimSlot::programmer(bench.programmer);
    kjtest::ScriptedDesktop desktop;
    desktop.choices.push_back(QString::fromStdString(dir.file("flash.bin")));
    AppContext context{kjsim::bridgesTo(slot), desktop};
    auto form = std::make_unique<kj::Launcher>(context);
    auto* kb90xx = form->window<kj::Kb90xxWindow>();
    ASSERT_NE(kb90xx, nullptr);
    child<QPushButton>(*kb90xx, "KB901X_READ")->click();
    ASSERT_TRUE(kjtest::runUntil(
        [&] {
            const auto sent = slot->written();
            return std::count(sent.begin(), sent.end(), 'N') > 2;
        },
        10000));

    form->onExit();
    form.reset();

    EXPECT_EQ(bench.programmer->endBytes(), "O");
    EXPECT_FALSE(slot->isOpen());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
