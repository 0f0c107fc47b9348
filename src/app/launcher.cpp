#include "app/launcher.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "common/backup_name.h"
#include "gui/history_window.h"

namespace kj {

namespace {
constexpr int kWidth = 524;
constexpr int kMargin = 16;
constexpr int kToolButtonWidth = 441;
constexpr int kToolButtonHeight = 73;
constexpr int kToolButtonPitch = 85;
constexpr int kToolButtonPixels = 27;
// Free space between the last tool button and the bottom row; with six tools
// the launcher is 638 px high. A screen too short for it takes this first.
constexpr int kSlack = 51;
constexpr QSize kExitSize(185, 41);
constexpr QSize kSmallButtonSize(97, 25);
constexpr int kBottomRowHeight = kMargin + kExitSize.height() + kMargin;
// Wide enough for the connection test's longest line.
constexpr int kTestWindowMinimumWidth = 360;
const QColor kScrollBarGrey(0xC8, 0xC8, 0xC8);

// The column of tool buttons, from the top margin to the last button's foot.
int columnHeight(int tools) {
    return tools > 0 ? kMargin + (tools - 1) * kToolButtonPitch + kToolButtonHeight : kMargin;
}
}  // namespace

Launcher::Launcher(AppContext& context) : QWidget(nullptr), context_(context) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Korvel_JIG  VER4.9  16/05/2016"));
    setMinimiseOnly(this);
    setFont(courier(13));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kScrollBarGrey);
    setPalette(palette);
    takeJob();
    placeButtons();
    createTools(context);
    fitToScreen();
    centreOnScreen(this);
}

Launcher::~Launcher() {
    shutDown();
    // The launcher owns the windows it created; none has a parent.
    for (auto& tool : tools_) delete tool.window;
    delete connectionTest_;
    delete history_;
}

// A job given on the command line starts the field and is kept; else the field
// starts where it was left.
void Launcher::takeJob() {
    if (context_.job.empty()) {
        context_.job = safeLabel(loadJob(context_.safety.file));
    } else {
        saveJob(context_.safety.file, context_.job);
    }
}

// A button per registered tool, one under the other, however many there are;
// under them a row with Exit at its left and the small buttons at its right.
void Launcher::placeButtons() {
    auto* column = new QWidget;
    column->setObjectName("toolButtons");
    const auto entries = toolWindows();
    column->setFixedSize(kWidth, columnHeight(static_cast<int>(entries.size())));
    int top = kMargin;
    for (const WindowEntry* entry : entries) {
        auto* button = makeButton(column, fromUtf8(entry->family.launcherButton),
                                  fromUtf8(entry->family.launcherCaption), Qt::black, kToolButtonPixels, true);
        button->setGeometry((kWidth - kToolButtonWidth) / 2, top, kToolButtonWidth, kToolButtonHeight);
        tools_.push_back({entry, button, nullptr});
        top += kToolButtonPitch;
    }
    scroll_ = new QScrollArea;
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    scroll_->setWidget(column);
    scroll_->viewport()->setAutoFillBackground(false);
    column->setAutoFillBackground(false);

    exitButton_ = makeButton(this, "Exit", "Exit", Qt::black, kToolButtonPixels, true);
    exitButton_->setFixedSize(kExitSize);
    connect(exitButton_, &QPushButton::clicked, this, &Launcher::onExit);
    testButton_ = new QPushButton(QStringLiteral("USB test"), this);
    testButton_->setObjectName("Test_connect");
    testButton_->setToolTip(QStringLiteral("Test the USB link: every FTDI port, its driver and its firmware"));
    testButton_->setFixedSize(kSmallButtonSize);
    connect(testButton_, &QPushButton::clicked, this, &Launcher::onTestConnect);
    historyButton_ = new QPushButton(QStringLiteral("History"), this);
    historyButton_->setObjectName("History");
    historyButton_->setToolTip(QStringLiteral("Every operation done, by job, tool and day; export as CSV"));
    historyButton_->setFixedSize(kSmallButtonSize);
    connect(historyButton_, &QPushButton::clicked, this, &Launcher::onHistory);

    // Exit at the left; the small buttons at the right, where more may come.
    auto* bottomRow = new QHBoxLayout;
    bottomRow->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    bottomRow->addWidget(exitButton_, 0, Qt::AlignBottom);
    bottomRow->addStretch(1);
    bottomRow->addWidget(historyButton_, 0, Qt::AlignBottom);
    bottomRow->addWidget(testButton_, 0, Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scroll_, 1);
    layout->addLayout(bottomRow);
}

// As high as its buttons need, but no higher than the screen: the slack goes
// first, then the column of tool buttons scrolls.
void Launcher::fitToScreen() {
    const int column = scroll_->widget()->height();
    int height = column + kSlack + kBottomRowHeight;
    int width = kWidth;
    if (const QScreen* shown = screen()) {
        create();  // where the platform can tell, the frame is known from here on
        const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        height = std::min(height, shown->availableGeometry().height() - frame.top() - frame.bottom());
        if (height - kBottomRowHeight < column) width += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    }
    setFixedSize(width, height);
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

// A window of its own, beside the launcher, which stays usable.
void Launcher::onHistory() {
    if (!history_) history_ = new HistoryWindow(context_);
    history_->open();
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
