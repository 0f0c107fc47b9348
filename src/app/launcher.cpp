#include "app/launcher.h"

#include <QApplication>
#include <QCloseEvent>

namespace kj {

namespace {
constexpr int kWidth = 524;
constexpr int kHeight = 638;
constexpr int kToolButtonWidth = 441;
constexpr int kToolButtonHeight = 73;
constexpr int kToolButtonPitch = 85;
constexpr int kToolButtonPixels = 27;
constexpr int kTop = 16;
// Wide enough for the connection test's longest line.
constexpr int kTestWindowMinimumWidth = 360;
const QColor kScrollBarGrey(0xC8, 0xC8, 0xC8);
}  // namespace

Launcher::Launcher(AppContext& context) : QWidget(nullptr) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Korvel_JIG  VER4.9  16/05/2016"));
    setMinimiseOnly(this);
    setFixedSize(kWidth, kHeight);
    setFont(courier(13));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kScrollBarGrey);
    setPalette(palette);
    placeButtons();
    createTools(context);
    centreOnScreen(this);
}

Launcher::~Launcher() {
    shutDown();
    // The launcher owns the windows it created; none has a parent.
    for (auto& tool : tools_) delete tool.window;
    delete connectionTest_;
}

void Launcher::placeButtons() {
    int top = kTop;
    for (const WindowEntry* entry : toolWindows()) {
        auto* button = makeButton(this, fromUtf8(entry->family.launcherButton), fromUtf8(entry->family.launcherCaption),
                                  Qt::black, kToolButtonPixels, true);
        button->setGeometry((kWidth - kToolButtonWidth) / 2, top, kToolButtonWidth, kToolButtonHeight);
        tools_.push_back({entry, button, nullptr});
        top += kToolButtonPitch;
    }
    exitButton_ = makeButton(this, "Exit", "Exit", Qt::black, kToolButtonPixels, true);
    exitButton_->setGeometry(16, kHeight - 41 - 16, 185, 41);
    connect(exitButton_, &QPushButton::clicked, this, &Launcher::onExit);
    testButton_ = new QPushButton(" ", this);
    testButton_->setObjectName("Test_connect");
    testButton_->setToolTip(QStringLiteral("Test the USB link: every FTDI port, its driver and its firmware"));
    testButton_->setGeometry(kWidth - 97 - 16, kHeight - 25 - 16, 97, 25);
    connect(testButton_, &QPushButton::clicked, this, &Launcher::onTestConnect);
}

void Launcher::createTools(AppContext& context) {
    for (size_t i = 0; i < tools_.size(); ++i) {
        tools_[i].window = tools_[i].entry->make(context, this);
        connect(tools_[i].button, &QPushButton::clicked, this, [this, i] { showTool(tools_[i].window); });
    }
    connectionTest_ = new ConnectionTestWindow(context);
}

void Launcher::showTool(QWidget* tool) {
    tool->show();
    hide();
}

// Beside the launcher, which stays usable.
void Launcher::onTestConnect() {
    if (!connectionTest_->isVisible()) placeBeside(connectionTest_, this, kTestWindowMinimumWidth);
    connectionTest_->show();
}

void Launcher::onExit() {
    shutDown();
    QApplication::quit();
}

void Launcher::closeEvent(QCloseEvent* event) {
    event->ignore();
    onExit();
}

void Launcher::shutDown() {
    if (shuttingDown_) return;
    shuttingDown_ = true;
    for (auto& tool : tools_) {
        if (tool.window) tool.window->abortOperations();
    }
}

}  // namespace kj
