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

EdidWindow::EdidWindow(AppContext& context, QWidget* launcher) : ChipWindow(context, launcher, edid::kFamily) {
    build({
        .name = "EDID_form",
        .caption = QStringLiteral("EEPROM LCD read/write VER4.1"),
        .buttons =
            {
                {.name = "EDID_READ",
                 .caption = "EDID_READ",
                 .handler = [this] { onRead(); },
                 .colour = kReadColour,
                 .slot = &readButton_},
                {.name = "EDID_WRITE",
                 .caption = "EDID_WRITE",
                 .handler = [this] { onWrite(); },
                 .colour = kWriteColour,
                 .slot = &writeButton_},
                {.name = "EXIT_EDID", .caption = "EXIT", .does = Does::Exit, .slot = &exitButton_},
            },
        .log = {.name = "EDID_Memo"},
        .layout = Layout::Own,
        .size = {1160, 520},
        .exit = {.clearsLog = true},
    });
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
    buttons->addWidget(jobField());
    buttons->addStretch();
    buttons->addWidget(exitButton_);
    auto* layout = new QGridLayout(canvas());
    layout->addWidget(log(), 0, 0);
    layout->addWidget(infoBox_, 0, 1);
    layout->addLayout(buttons, 1, 0, 1, 2);
    layout->setColumnStretch(0, 1);
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

void EdidWindow::leaving() { clearInfo(); }

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
