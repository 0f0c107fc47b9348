#include "edid/edid_window.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>

namespace kj {

namespace {
constexpr int kMemoPixels = 13;
constexpr int kInfoWidth = 540;
const QColor kReadColour(0, 0x80, 0);
const QColor kWriteColour(0xC0, 0, 0);
}  // namespace

TEDID_form::TEDID_form(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("EEPROM LCD read/write VER4.1"), "V41") {
    setObjectName("EDID_form");
    buildControls();
    WindowFrontend::Hooks hooks;
    hooks.saveCanClose = [this] { SaveDialog1CanClose(); };
    hooks.openCanClose = [this] { OpenDialog1CanClose(); };
    hooks.confirmed = &dialogConfirmed_;
    frontend_ = std::make_unique<WindowFrontend>(this, EDID_Memo, nullptr, context.desktop, std::move(hooks));
    programmer_ = std::make_unique<EdidProgrammer>(bridge(), *frontend_);
    programmer_->onInfo([this](const EdidInfo& info) { showInfo(info); });
    programmer_->onBadBaseBlock([this](const EdidInfo& info) { return askBadBaseBlock(info); });
}

void TEDID_form::buildControls() {
    EDID_READ = makeButton(this, "EDID_READ", QStringLiteral("EDID_READ"), kReadColour);
    EDID_WRITE = makeButton(this, "EDID_WRITE", QStringLiteral("EDID_WRITE"), kWriteColour);
    EXIT_EDID = makeButton(this, "EXIT_EDID", QStringLiteral("EXIT"));
    EDID_Memo = makeMemo(this, "EDID_Memo", kMemoPixels);

    EDID_InfoBox = new QGroupBox(QStringLiteral("EDID info"), this);
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

    auto* layout = new QGridLayout(this);
    layout->addWidget(EDID_Memo, 0, 0);
    layout->addWidget(EDID_InfoBox, 0, 1);
    layout->addLayout(buttons, 1, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    resize(1160, 520);

    connect(EDID_READ, &QPushButton::clicked, this, &TEDID_form::EDID_READClick);
    connect(EDID_WRITE, &QPushButton::clicked, this, &TEDID_form::EDID_WRITEClick);
    connect(EXIT_EDID, &QPushButton::clicked, this, &TEDID_form::EXIT_EDIDClick);
}

void TEDID_form::EDID_READClick() { runOperation(&EdidProgrammer::read); }

void TEDID_form::EDID_WRITEClick() { runOperation(&EdidProgrammer::write); }

void TEDID_form::EXIT_EDIDClick() {
    clearLogLines(EDID_Memo);
    EDID_Info->clear();
    showLauncherAndHide();
}

void TEDID_form::SaveDialog1CanClose() { dialogConfirmed_ = true; }

void TEDID_form::OpenDialog1CanClose() { dialogConfirmed_ = true; }

void TEDID_form::runOperation(bool (EdidProgrammer::*operation)()) {
    const QList<QPushButton*> buttons{EDID_READ, EDID_WRITE, EXIT_EDID};
    for (auto* button : buttons) button->setEnabled(false);
    EDID_Info->clear();
    (programmer_.get()->*operation)();
    for (auto* button : buttons) button->setEnabled(true);
}

void TEDID_form::showInfo(const EdidInfo& info) {
    QStringList lines;
    for (const auto& line : describeEdid(info)) lines << QString::fromStdString(line);
    EDID_Info->setPlainText(lines.join('\n'));
    EDID_Info->repaint();
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
