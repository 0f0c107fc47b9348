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

TForm1::TForm1(AppContext& context) : QWidget(nullptr) {
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

TForm1::~TForm1() {
    shutDown();
    // The launcher owns the windows it created; none has a parent.
    for (auto& tool : tools_) delete tool.window;
    delete TESTING;
}

void TForm1::placeButtons() {
    int top = kTop;
    for (const WindowEntry* entry : toolWindows()) {
        auto* button = makeButton(this, fromUtf8(entry->family.launcherButton), fromUtf8(entry->family.launcherCaption),
                                  Qt::black, kToolButtonPixels, true);
        button->setGeometry((kWidth - kToolButtonWidth) / 2, top, kToolButtonWidth, kToolButtonHeight);
        tools_.push_back({entry, button, nullptr});
        top += kToolButtonPitch;
    }
    Exit = makeButton(this, "Exit", "Exit", Qt::black, kToolButtonPixels, true);
    Exit->setGeometry(16, kHeight - 41 - 16, 185, 41);
    connect(Exit, &QPushButton::clicked, this, &TForm1::ExitClick);
    Test_connect = new QPushButton(" ", this);
    Test_connect->setObjectName("Test_connect");
    Test_connect->setToolTip(QStringLiteral("Test the USB link: every FTDI port, its driver and its firmware"));
    Test_connect->setGeometry(kWidth - 97 - 16, kHeight - 25 - 16, 97, 25);
    connect(Test_connect, &QPushButton::clicked, this, &TForm1::Test_connectClick);
}

void TForm1::createTools(AppContext& context) {
    for (size_t i = 0; i < tools_.size(); ++i) {
        tools_[i].window = tools_[i].entry->make(context, this);
        connect(tools_[i].button, &QPushButton::clicked, this, [this, i] { showTool(tools_[i].window); });
    }
    TESTING = new TTESTING(context);
}

void TForm1::showTool(QWidget* tool) {
    tool->show();
    hide();
}

// Beside the launcher, which stays usable.
void TForm1::Test_connectClick() {
    if (!TESTING->isVisible()) placeBeside(TESTING, this, kTestWindowMinimumWidth);
    TESTING->show();
}

void TForm1::ExitClick() {
    shutDown();
    QApplication::quit();
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->ignore();
    ExitClick();
}

void TForm1::shutDown() {
    if (shuttingDown_) return;
    shuttingDown_ = true;
    for (auto& tool : tools_) {
        if (tool.window) tool.window->abortOperations();
    }
}

}  // namespace kj
