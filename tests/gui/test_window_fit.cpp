// Every window on a 1366 x 768 laptop, offscreen: whole on the screen that a
// panel and a title bar leave, every button, log and gauge in reach without
// scrolling, Escape as EXIT, and the connection test beside the launcher.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "app/launcher.h"
#include "gui/gauge.h"
#include "sim/sim_bridge.h"
#include "support/scratch.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace {

using namespace kj;
using kjtest::child;

// The screen the build describes, set before the application starts.
[[maybe_unused]] const bool kLaptopScreen = [] {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + KJ_LAPTOP_SCREEN);
    return true;
}();

// Less a panel and a title bar of 40 px each, which the offscreen platform does not draw.
const QRect kRoom(0, 0, 1366, 768 - 80);

class WindowFit : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), kRoom);
        form = std::make_unique<kj::Launcher>(context);
        form->show();
    }

    // Whether the user can reach every control of this kind without scrolling.
    template <class Control>
    void expectInReach(QWidget* window) {
        for (Control* control : window->findChildren<Control*>()) {
            if (!control->isVisibleTo(window)) continue;
            EXPECT_EQ(control->visibleRegion().boundingRect(), control->rect())
                << window->objectName().toStdString() << ": " << control->objectName().toStdString();
        }
    }

    kjtest::ScriptedDesktop desktop;
    kjtest::ScratchDir dataDir;
    kjtest::DataHome dataHome{dataDir.path()};
    AppContext context{[](std::string_view) { return std::make_unique<kjsim::SimBridge>(); }, desktop};
    std::unique_ptr<kj::Launcher> form;
};

TEST_F(WindowFit, EveryToolWindowFitsAndEscapeLeavesIt) {
    EXPECT_TRUE(kRoom.contains(form->frameGeometry()));
    for (const auto& tool : form->tools()) {
        const std::string name = tool.window->objectName().toStdString();
        tool.button->click();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(tool.window)) << name;
        EXPECT_TRUE(kRoom.contains(tool.window->frameGeometry())) << name;
        expectInReach<QPushButton>(tool.window);
        expectInReach<QPlainTextEdit>(tool.window);
        expectInReach<kj::Gauge>(tool.window);

        tool.window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(tool.window)) << name;
        QTest::keyClick(tool.window->windowHandle(), Qt::Key_Escape);
        EXPECT_FALSE(tool.window->isVisible()) << name;
        EXPECT_TRUE(form->isVisible()) << name;
    }
}

TEST_F(WindowFit, ConnectionTestOpensBesideTheLauncher) {
    child<QPushButton>(*form, "Test_connect")->click();
    QWidget* test = form->connectionTest();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(test));
    EXPECT_TRUE(kRoom.contains(test->frameGeometry()));
    EXPECT_FALSE(test->frameGeometry().intersects(form->frameGeometry()));
    expectInReach<QPushButton>(test);
    EXPECT_TRUE(form->isVisible());
}

}  // namespace
