// Every window on a 1366 x 768 laptop, offscreen: whole on the screen that a
// panel and a title bar leave, every button, log and gauge in reach without
// scrolling, Escape as EXIT, and the connection test beside the launcher.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <optional>

#include "app/launcher.h"
#include "common/registry.h"
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

// One tool more than the program has, registered as a family registers its window.
const Family kSpareFamily{.place = 99,
                          .name = "spare",
                          .launcherButton = "Spare",
                          .launcherCaption = "Spare tool",
                          .firmware = firmware::kV41};
class SpareWindow : public ToolWindow {
public:
    SpareWindow(AppContext& context, QWidget* launcher) : ToolWindow(context, launcher, "Spare", firmware::kV41) {
        setCanvasSize(300, 200);
    }

private:
    void exitRequested() override { showLauncherAndHide(); }
};
const WindowEntry kSpareWindow{kSpareFamily, makeToolWindow<SpareWindow>};
KJ_REGISTER(WindowEntry, kSpareWindow)

QRect onScreen(const QWidget* widget) { return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()); }

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

// A drop-down list open in a window: the first Escape closes only the list, the
// second is EXIT. A window that comes back with an empty log shows its
// instructions again.
TEST_F(WindowFit, EscapeClosesAnOpenListBeforeItLeavesTheWindow) {
    int lists = 0;
    for (const auto& tool : form->tools()) {
        const std::string name = tool.window->objectName().toStdString();
        const auto combos = tool.window->findChildren<QComboBox*>();
        const auto list = std::find_if(combos.begin(), combos.end(), [&](QComboBox* combo) {
            return combo->isVisibleTo(tool.window) && combo->isEnabled() && combo->count() > 1;
        });
        if (list == combos.end()) continue;
        ++lists;
        auto* log = tool.window->findChild<QPlainTextEdit*>();
        tool.button->click();
        ASSERT_TRUE(QTest::qWaitForWindowActive(tool.window)) << name;
        const QString instructions = log->toPlainText();

        (*list)->setFocus();
        (*list)->showPopup();
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_NE(popup, nullptr) << name;
        QTest::keyClick(popup->windowHandle(), Qt::Key_Escape);
        EXPECT_FALSE(popup->isVisible()) << name;
        EXPECT_TRUE(tool.window->isVisible()) << name << ": one Escape left the window with its list";

        ASSERT_TRUE(QTest::qWaitForWindowActive(tool.window)) << name;
        QTest::keyClick(tool.window->windowHandle(), Qt::Key_Escape);
        EXPECT_FALSE(tool.window->isVisible()) << name;
        tool.button->click();
        EXPECT_FALSE(instructions.isEmpty()) << name;
        EXPECT_EQ(log->toPlainText(), instructions) << name;
        tool.window->hide();
    }
    EXPECT_GT(lists, 0);
}

// Seven buttons in reach without scrolling on a 1366x768 screen, at the pitch
// of the first six, clear of the bottom row's buttons; any beyond the screen's
// room are reached by scrolling the column.
TEST_F(WindowFit, TheLauncherMakesRoomForOneToolMore) {
    constexpr size_t kUnscrolled = 7;
    ASSERT_EQ(form->tools().size(), families().size() + 1);
    EXPECT_EQ(form->tools().back().button->text(), "Spare tool");
    const QRect exit = onScreen(child<QPushButton>(*form, "Exit"));
    const QRect test = onScreen(child<QPushButton>(*form, "Test_connect"));
    EXPECT_TRUE(form->rect().contains(form->mapFromGlobal(exit.bottomRight())));
    EXPECT_TRUE(form->rect().contains(form->mapFromGlobal(test.bottomRight())));
    auto* column = form->findChild<QScrollArea*>();
    ASSERT_NE(column, nullptr);
    std::optional<QRect> above;
    for (size_t i = 0; i < form->tools().size(); ++i) {
        QPushButton* tool = form->tools()[i].button;
        const std::string name = tool->objectName().toStdString();
        if (i >= kUnscrolled) column->ensureWidgetVisible(tool, 0, 0);
        const QRect button = onScreen(tool);
        EXPECT_EQ(tool->visibleRegion().boundingRect(), tool->rect()) << name;
        EXPECT_EQ(button.size(), QSize(441, 73)) << name;
        EXPECT_FALSE(button.intersects(exit) || button.intersects(test)) << name;
        if (above && i < kUnscrolled) {
            EXPECT_EQ(button.top() - above->top(), 85) << name;
        }
        above = button;
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
