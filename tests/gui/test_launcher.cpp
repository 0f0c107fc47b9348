// The launcher and the way between the windows, offscreen.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>

#include "app/launcher.h"
#include "edid/edid_window.h"
#include "ite/ite_window.h"
#include "kb90xx/kb90xx_window.h"
#include "keyboard/keyboard_window.h"
#include "mec16/mec16_window.h"
#include "npce/npce_window.h"
#include "link/testconnect_window.h"
#include "sim/sim_bridge.h"
#include "support/scripted_desktop.h"

using namespace kj;

namespace {

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm1>(context);
        form->show();
    }

    // The windows in the order they are created.
    std::vector<QWidget*> tools() const {
        return {static_cast<QWidget*>(form->EDID_form), static_cast<QWidget*>(form->KB901X_forms),
                static_cast<QWidget*>(form->Keyboard_testing), static_cast<QWidget*>(form->MEC16_Form),
                static_cast<QWidget*>(form->ITE_FORM), static_cast<QWidget*>(form->NPCE_FORM)};
    }

    QPushButton* exitOf(QWidget* tool, const char* name) const { return tool->findChild<QPushButton*>(name); }

    kjtest::ScriptedDesktop desktop;
    AppContext context{[](std::string_view family) -> std::unique_ptr<Bridge> {
                           bool known = false;
                           auto p = std::make_shared<kjsim::Programmer>(kjsim::familyByName(std::string(family), known));
                           return std::make_unique<kjsim::SimBridge>(
                               std::vector<std::shared_ptr<kjsim::SimSlot>>{kjsim::SimSlot::programmer(p)});
                       },
                       desktop};
    std::unique_ptr<TForm1> form;
};

}  // namespace

TEST_F(LauncherTest, StartsWithOnlyTheLauncherVisible) {
    EXPECT_EQ(form->windowTitle(), "Korvel_JIG  VER4.9  16/05/2016");
    EXPECT_EQ(form->size(), QSize(524, 638));
    EXPECT_TRUE(form->isVisible());
    for (QWidget* tool : tools()) EXPECT_FALSE(tool->isVisible()) << tool->windowTitle().toStdString();
    EXPECT_FALSE(static_cast<QWidget*>(form->TESTING)->isVisible());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(LauncherTest, ButtonsCarryTheirCaptionsTopToBottom) {
    const std::vector<std::pair<QPushButton*, QString>> expected = {
        {form->EDID, "EEPROM lcd (EDID)"}, {form->Keyboard, "Keyboard testing"}, {form->KB901X, "KB9010/12/16/22"},
        {form->MEC16XX, "MEC1609"},        {form->ITE_BitBtn1, "ITE_chip"},      {form->BitBtn1, "NPCE288N/388N"}};
    int lastTop = -1;
    for (const auto& [button, caption] : expected) {
        EXPECT_EQ(button->text(), caption);
        EXPECT_EQ(button->size(), QSize(441, 73));
        EXPECT_GT(button->y(), lastTop);
        lastTop = button->y();
    }
    EXPECT_EQ(form->Exit->text(), "Exit");
    EXPECT_EQ(form->Test_connect->text(), " ");
    EXPECT_EQ(form->Test_connect->size(), QSize(97, 25));
}

TEST_F(LauncherTest, EachToolButtonShowsItsWindowAndItsExitReturns) {
    struct Route {
        QPushButton* button;
        QWidget* tool;
        const char* exit;
        const char* caption;
    };
    const std::vector<Route> routes = {
        {form->EDID, tools()[0], "EXIT_EDID", "EEPROM LCD read/write VER4.1"},
        {form->KB901X, tools()[1], "EXIT_KB901X", "KB9010/9012/9016/9022  programming VER4.1"},
        {form->Keyboard, tools()[2], "EXIT_KB_TEST", "Keyboard_testing"},
        {form->MEC16XX, tools()[3], "EXIT_MEC16", "Чтение и запись MEC16"},
        {form->ITE_BitBtn1, tools()[4], "ITE_EXIT_BitBtn", "ITE 16_05_2016"},
        {form->BitBtn1, tools()[5], "EXIT_NPCE", "NPCE288N/388N 16_05_2016"},
    };
    for (const auto& r : routes) {
        r.button->click();
        EXPECT_TRUE(r.tool->isVisible()) << r.caption;
        EXPECT_FALSE(form->isVisible()) << r.caption;
        EXPECT_EQ(r.tool->windowTitle(), QString::fromUtf8(r.caption));
        EXPECT_FALSE(r.tool->windowFlags() & Qt::WindowCloseButtonHint) << r.caption;
        QPushButton* exit = exitOf(r.tool, r.exit);
        ASSERT_NE(exit, nullptr) << r.exit;
        exit->click();
        EXPECT_FALSE(r.tool->isVisible()) << r.caption;
        EXPECT_TRUE(form->isVisible()) << r.caption;
    }
}

TEST_F(LauncherTest, ConnectionTestOpensBesideTheLauncherAndLogsWhatItFinds) {
    form->Test_connect->click();
    auto* testing = form->TESTING;
    EXPECT_TRUE(static_cast<QWidget*>(testing)->isVisible());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(static_cast<QWidget*>(testing)->windowTitle(), "Test vcom port and device");
    testing->BitBtn1->click();
    testing->BitBtn1->click();
    const QString expected = "\nNumber of VCOM ports found on the machine: 1\n>>>\nOpen VCOM0\n"
                             "FTDI DRIVER version -> 21224\nPROG version FW -> V41";
    EXPECT_EQ(testing->Test_memo->toPlainText(), expected + "\n" + expected) << "each run adds below the last";
}
