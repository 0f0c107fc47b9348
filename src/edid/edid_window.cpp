#include "edid/edid_window.h"

#include "common/registry.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
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
    programmer_ = std::make_unique<EdidProgrammer>(bridge(), frontend());
    offerSafety(*programmer_);
    programmer_->onInfo(
        [this](const EdidInfo& info, EdidSource source) { post([this, info, source] { showInfo(info, source); }); });
    programmer_->onBadBaseBlock([this](const EdidInfo& info) {
        EdidWriteChoice choice = EdidWriteChoice::Cancel;
        waitFor([&] { choice = askBadBaseBlock(info); });
        return choice;
    });
}

void EdidWindow::onRead() {
    if (!programmer_->operation().idle()) return;
    clearInfo();
    programmer_->startRead();
}

void EdidWindow::onWrite() {
    if (!programmer_->operation().idle()) return;
    clearInfo();
    writing_ = true;
    programmer_->startWrite();
}

void EdidWindow::onExit() {
    if (!programmer_->operation().idle()) return;
    clearLogLines(log_);
    clearInfo();
    showLauncherAndHide();
}

// A write that did not go ahead leaves no summary of a file that was not written.
void EdidWindow::operationDone() {
    const bool wrote = programmer_->operation().lastSucceeded();
    if (std::exchange(writing_, false) && !wrote && programmer_->lastStatus().empty()) clearInfo();
}

void EdidWindow::clearInfo() {
    info_->clear();
    infoBox_->setTitle(kInfoTitle);
}

void EdidWindow::showInfo(const EdidInfo& info, EdidSource source) {
    QStringList lines;
    for (const auto& line : describeEdid(info)) lines << QString::fromStdString(line);
    info_->setPlainText(lines.join('\n'));
    infoBox_->setTitle(source == EdidSource::Eeprom ? kInfoTitle + QStringLiteral(": the EEPROM just read")
                                                    : kInfoTitle + QStringLiteral(": the file to write, ") +
                                                          QString::fromStdString(programmer_->fileName()));
}

QString EdidWindow::badBaseBlockQuestion(const EdidInfo& info) {
    QStringList problems;
    if (!info.headerValid) problems << QStringLiteral("the header is not 00 FF FF FF FF FF FF 00");
    if (!info.blocks.empty() && !info.blocks.front().ok()) {
        const auto& block = info.blocks.front();
        problems << QString::asprintf("the checksum is 0x%02X, it should be 0x%02X", unsigned{block.stored},
                                      unsigned{block.computed});
    }
    QString text = QStringLiteral("The base block of this image is not a sane EDID: ") + problems.join("; ") + ".";
    if (!info.headerValid) text += QStringLiteral("\nFixing sets the checksum bytes only; the header stays as it is.");
    return text + QStringLiteral("\n\nWrite it to the EEPROM anyway?");
}

EdidWriteChoice EdidWindow::askBadBaseBlock(const EdidInfo& info) {
    QMessageBox box(QMessageBox::Warning, windowTitle(), badBaseBlockQuestion(info), QMessageBox::NoButton, this);
    box.setObjectName("EDID_BadBaseBlock");
    auto* asIs = box.addButton(QString::fromLatin1(kWriteAsIs), QMessageBox::AcceptRole);
    auto* fix = box.addButton(QString::fromLatin1(kFixAndWrite), QMessageBox::AcceptRole);
    auto* cancel = box.addButton(QString::fromLatin1(kCancelWrite), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == asIs) return EdidWriteChoice::AsIs;
    if (box.clickedButton() == fix) return EdidWriteChoice::FixChecksums;
    return EdidWriteChoice::Cancel;
}

}  // namespace kj
