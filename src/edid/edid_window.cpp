#include "edid/edid_window.h"

#include "common/registry.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>

namespace kj {

namespace {
const WindowEntry kWindow{edid::kFamily, makeToolWindow<TEDID_form>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kMemoPixels = 13;
constexpr int kInfoWidth = 540;
const QString kInfoTitle = QStringLiteral("EDID info");
}  // namespace

TEDID_form::TEDID_form(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("EEPROM LCD read/write VER4.1"), edid::kFamily) {
    setObjectName("EDID_form");
    makeButtons({
        {&EDID_READ, "EDID_READ", "EDID_READ", [this] { EDID_READClick(); }, kReadColour},
        {&EDID_WRITE, "EDID_WRITE", "EDID_WRITE", [this] { EDID_WRITEClick(); }, kWriteColour},
        {&EXIT_EDID, "EXIT_EDID", "EXIT", [this] { EXIT_EDIDClick(); }},
    });
    EDID_Memo = makeLog("EDID_Memo", kMemoPixels);
    EDID_InfoBox = new QGroupBox(kInfoTitle, canvas());
    EDID_InfoBox->setObjectName("EDID_InfoBox");
    EDID_Info = makeMemo(EDID_InfoBox, "EDID_Info", kMemoPixels);
    EDID_Info->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    EDID_InfoBox->setFixedWidth(kInfoWidth);
    auto* infoLayout = new QVBoxLayout(EDID_InfoBox);
    infoLayout->addWidget(EDID_Info);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(EDID_READ);
    buttons->addWidget(EDID_WRITE);
    buttons->addStretch();
    buttons->addWidget(EXIT_EDID);
    auto* layout = new QGridLayout(canvas());
    layout->addWidget(EDID_Memo, 0, 0);
    layout->addWidget(EDID_InfoBox, 0, 1);
    layout->addLayout(buttons, 1, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    resize(1160, 520);

    attachFrontend(
        EDID_Memo, {},
        {.saveCanClose = [this] { SaveDialog1CanClose(); }, .openCanClose = [this] { OpenDialog1CanClose(); }});
    programmer_ = std::make_unique<EdidProgrammer>(bridge(), frontend());
    programmer_->onInfo([this](const EdidInfo& info, EdidSource source) {
        QMetaObject::invokeMethod(this, [this, info, source] { showInfo(info, source); });
    });
    programmer_->onBadBaseBlock([this](const EdidInfo& info) {
        EdidWriteChoice choice = EdidWriteChoice::Cancel;
        QMetaObject::invokeMethod(
            this, [&] { choice = askBadBaseBlock(info); }, Qt::BlockingQueuedConnection);
        return choice;
    });
}

void TEDID_form::EDID_READClick() {
    if (!programmer_->operation().idle()) return;
    clearInfo();
    programmer_->startRead();
}

void TEDID_form::EDID_WRITEClick() {
    if (!programmer_->operation().idle()) return;
    clearInfo();
    writing_ = true;
    programmer_->startWrite();
}

void TEDID_form::EXIT_EDIDClick() {
    if (!programmer_->operation().idle()) return;
    clearLogLines(EDID_Memo);
    clearInfo();
    showLauncherAndHide();
}

void TEDID_form::SaveDialog1CanClose() { setDialogConfirmed(); }

void TEDID_form::OpenDialog1CanClose() { setDialogConfirmed(); }

// A write that did not go ahead leaves no summary of a file that was not written.
void TEDID_form::operationDone() {
    const bool wrote = programmer_->operation().lastSucceeded();
    if (std::exchange(writing_, false) && !wrote && programmer_->lastStatus().empty()) clearInfo();
}

void TEDID_form::clearInfo() {
    EDID_Info->clear();
    EDID_InfoBox->setTitle(kInfoTitle);
}

void TEDID_form::showInfo(const EdidInfo& info, EdidSource source) {
    QStringList lines;
    for (const auto& line : describeEdid(info)) lines << QString::fromStdString(line);
    EDID_Info->setPlainText(lines.join('\n'));
    EDID_InfoBox->setTitle(source == EdidSource::Eeprom ? kInfoTitle + QStringLiteral(": the EEPROM just read")
                                                        : kInfoTitle + QStringLiteral(": the file to write, ") +
                                                              QString::fromStdString(programmer_->fileName()));
}

QString TEDID_form::badBaseBlockQuestion(const EdidInfo& info) {
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

EdidWriteChoice TEDID_form::askBadBaseBlock(const EdidInfo& info) {
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
