#include "keyboard/keyboard_window.h"

#include <QVBoxLayout>

namespace kj {

TKeyboard_testing::TKeyboard_testing(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("Keyboard_testing"), "V41") {
    setObjectName("TKeyboard_testing");
    EXIT_KB_TEST = makeButton(this, "EXIT_KB_TEST", QStringLiteral("EXIT"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(EXIT_KB_TEST);
    resize(640, 480);
    connect(EXIT_KB_TEST, &QPushButton::clicked, this, &TKeyboard_testing::EXIT_KB_TESTClick);
}

void TKeyboard_testing::EXIT_KB_TESTClick() { showLauncherAndHide(); }

}  // namespace kj
