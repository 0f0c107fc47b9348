#include "edid/edid_window.h"

#include "common/registry.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kj {

namespace {
const WindowEntry kWindow{edid::kFamily, makeToolWindow<EdidWindow>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kMemoPixels = 13;
constexpr int kInfoWidth = 540;
const QString kInfoTitle = QStringLiteral("EDID info");
}  // namespace

EdidWindow::EdidWindow(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("EEPROM LCD read/write VER4.1"), edid::kFamily) {
    setObjectName("EDID_form");
    makeButtons({
        {&readButton_, "EDID_READ", "EDID_READ", [this] { onRead(); }, kReadColour},
        {&writeButton_, "EDID_WRITE", "EDID_WRITE", [this] { onWrite(); }, kWriteColour},
        {&exitButton_, "EXIT_EDID", "EXIT", [this] { onExit(); }},
    });
    log_ = makeLog("EDID_Memo", kMemoPixels);
    infoBox_ = new QGroupBox(kInfoTitle, canvas());
    infoBox_->setObjectName("EDID_InfoBox");
    info_ = makeMemo(infoBox_, "EDID_Info", kMemoPixels);
    info_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    infoBox_->setFixedWidth(kInfoWidth);
    auto* infoLayout = new QVBoxLayout(infoBox_);
    infoLayout->addWidget(info_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(readButton_);
    buttons->addWidget(writeButton_);
    buttons->addStretch();
    buttons->addWidget(exitButton_);
    auto* layout = new QGridLayout(canvas());
    layout->addWidget(log_, 0, 0);
    layout->addWidget(infoBox_, 0, 1);
    layout->addLayout(buttons, 1, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    resize(1160, 520);

    attachFrontend(log_, {});
    onEvent<EdidInfoEvent>([this](const EdidInfoEvent& event) { showInfo(event); });
}

void EdidWindow::onRead() {
    if (!tool().operation().idle()) return;
    clearInfo();
    tool().startRead();
}

void EdidWindow::onWrite() {
    if (!tool().operation().idle()) return;
    clearInfo();
    writing_ = true;
    tool().startWrite();
}

void EdidWindow::onExit() {
    if (!tool().operation().idle()) return;
    clearLogLines(log_);
    clearInfo();
    showLauncherAndHide();
}

// A write that did not go ahead leaves no summary of a file that was not written.
void EdidWindow::operationDone() {
    const bool wrote = tool().operation().lastSucceeded();
    if (std::exchange(writing_, false) && !wrote && sessions().lastStatus().empty()) clearInfo();
}

void EdidWindow::clearInfo() {
    info_->clear();
    infoBox_->setTitle(kInfoTitle);
}

void EdidWindow::showInfo(const EdidInfoEvent& event) {
    QStringList lines;
    for (const auto& line : describeEdid(event.info)) lines << QString::fromStdString(line);
    info_->setPlainText(lines.join('\n'));
    infoBox_->setTitle(event.source == EdidSource::Eeprom
                           ? kInfoTitle + QStringLiteral(": the EEPROM just read")
                           : kInfoTitle + QStringLiteral(": the file to write, ") + fromUtf8(event.file));
}

}  // namespace kj
