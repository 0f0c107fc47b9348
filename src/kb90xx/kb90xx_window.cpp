#include "kb90xx/kb90xx_window.h"

#include "common/registry.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "kb90xx/cable_help.h"

namespace kj {

namespace {
const WindowEntry kWindow{kb90xx::kFamily, makeToolWindow<Kb90xxWindow>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kMotherboardRows = 20;
constexpr int kMotherboardTyping = 15;
const QColor kAwaitingChoice(255, 255, 0);

const QString kSelectMotherboard = QStringLiteral("Step 1 -> Select MB");
const QString kSelectCable = QStringLiteral("Step 2 -> Select FFC cable you used");

QColor buttonFace() { return QApplication::palette().color(QPalette::Button); }

void paintChooser(QComboBox* chooser, const QColor& colour) {
    QPalette palette = chooser->palette();
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Button, colour);
    chooser->setPalette(palette);
}

QComboBox* makeChooser(QWidget* parent, const QString& objectName, const QString& text) {
    auto* chooser = new QComboBox(parent);
    chooser->setObjectName(objectName);
    chooser->setEditable(true);
    chooser->setInsertPolicy(QComboBox::NoInsert);
    chooser->setEnabled(false);
    chooser->setCurrentIndex(-1);
    chooser->setEditText(text);
    chooser->setMinimumContentsLength(static_cast<int>(text.size()));
    chooser->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    chooser->lineEdit()->setCursorPosition(0);
    return chooser;
}

QString selectedText(const QComboBox* chooser) { return chooser->itemText(chooser->currentIndex()); }
}  // namespace

Kb90xxWindow::Kb90xxWindow(AppContext& context, QWidget* launcher) : ChipWindow(context, launcher, kb90xx::kFamily) {
    buildCableHelp();
    build({
        .name = "KB901X_forms",
        .caption = QStringLiteral("KB9010/9012/9016/9022  programming VER4.1"),
        .buttons =
            {
                {.name = "KB901X_READ", .caption = "KB90XX_READ", .does = Does::Read, .colour = kReadColour},
                {.name = "KB901X_WRITE", .caption = "KB90XX_WRITE", .does = Does::Write, .colour = kWriteColour},
                {.name = "EXIT_KB901X", .caption = "EXIT", .does = Does::Exit},
            },
        .log = {.name = "KB901X_Memo"},
        .gauges = {{.name = "CGauge_KB901X", .maximum = kb90xx::kGaugeMax}},
        .size = {760, 560},
        .top = cableHelpBox_,
        .locks = true,
        .exit = {.clearsLog = true, .emptiesGauge = true},
    });
    onCreate();
}

void Kb90xxWindow::buildCableHelp() {
    cableHelpBox_ = new QGroupBox(QStringLiteral(" Help for FFC cable connection "), canvas());
    cableHelpBox_->setObjectName("GroupBox1");
    motherboardChooser_ = makeChooser(cableHelpBox_, "ComboBox_KB901X", kSelectMotherboard);
    motherboardChooser_->setMaxVisibleItems(kMotherboardRows);
    cableChooser_ = makeChooser(cableHelpBox_, "ComboBox_KB901X_FFC", kSelectCable);
    for (auto width : kKb90xxCableWidths) cableChooser_->addItem(fromUtf8(width));
    cableChooser_->setCurrentIndex(-1);
    cableChooser_->setEditText(kSelectCable);
    cableChooser_->lineEdit()->setCursorPosition(0);
    orientationBox_ =
        new QCheckBox(QStringLiteral("Pin 1 connected  to pin 1 on the MB keyboard connector"), cableHelpBox_);
    orientationBox_->setObjectName("CheckBox_KB901X");
    orientationBox_->setChecked(true);
    orientationBox_->setEnabled(false);
    helpLabel_ = new QLabel(QStringLiteral("*************"), cableHelpBox_);
    helpLabel_->setObjectName("Label_result");
    QFont bold = helpLabel_->font();
    bold.setBold(true);
    helpLabel_->setFont(bold);
    helpLabel_->setWordWrap(true);

    auto* row = new QHBoxLayout;
    row->addWidget(cableChooser_);
    row->addWidget(orientationBox_, 1);
    auto* layout = new QVBoxLayout(cableHelpBox_);
    layout->addWidget(motherboardChooser_);
    layout->addLayout(row);
    layout->addWidget(helpLabel_);

    connect(motherboardChooser_, &QComboBox::activated, this, &Kb90xxWindow::onMotherboardPicked);
    connect(cableChooser_, &QComboBox::activated, this, &Kb90xxWindow::onCablePicked);
    connect(orientationBox_, &QCheckBox::clicked, this, &Kb90xxWindow::onOrientationClicked);
    // Typing is limited, a chosen entry is shown whole.
    connect(motherboardChooser_->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        typedBoard_ = false;
        if (text.size() > kMotherboardTyping) motherboardChooser_->lineEdit()->setText(text.left(kMotherboardTyping));
    });
    connect(motherboardChooser_->lineEdit(), &QLineEdit::returnPressed, this, &Kb90xxWindow::motherboardTyped);
}

// Loads the motherboard connection base, once for the life of the window.
void Kb90xxWindow::onCreate() {
    if (motherboardChooser_->currentIndex() < 0) paintChooser(motherboardChooser_, kAwaitingChoice);
    if (cableChooser_->currentIndex() < 0) paintChooser(cableChooser_, kAwaitingChoice);
    basePath_ = baseFilePath(kKb90xxBaseFile).string();
    helpLabel_->setToolTip(QString::fromStdString(basePath_));
    std::string error;
    const auto base = loadBase(basePath_, error);
    if (!base) {
        helpLabel_->setText(QString::fromStdString(kb90xxNoBaseText(basePath_)));
        helpLabel_->setToolTip(QString::fromStdString(fileProblem(basePath_, error)));
        paintChooser(motherboardChooser_, buttonFace());
        paintChooser(cableChooser_, buttonFace());
        return;
    }
    motherboardChooser_->setEnabled(true);
    cableChooser_->setEnabled(true);
    orientationBox_->setEnabled(true);
    helpLabel_->clear();
    for (const auto& line : *base) motherboardChooser_->addItem(QString::fromStdString(line));
    motherboardChooser_->setCurrentIndex(-1);
    motherboardChooser_->setEditText(kSelectMotherboard);
    cableChooser_->setEditText(kSelectCable);
    cableChooser_->lineEdit()->setCursorPosition(0);
}

// ---- cable help ----

bool Kb90xxWindow::motherboardPicked() const { return typedBoard_ || motherboardChooser_->currentIndex() >= 0; }

void Kb90xxWindow::onMotherboardPicked() {
    typedBoard_ = false;
    boardChosen();
}

// A board typed and confirmed with Return counts as chosen: its own text is the line.
void Kb90xxWindow::motherboardTyped() {
    const int match = motherboardChooser_->findText(motherboardChooser_->currentText(), Qt::MatchExactly);
    if (match >= 0) motherboardChooser_->setCurrentIndex(match);
    typedBoard_ = match < 0;
    boardChosen();
}

void Kb90xxWindow::boardChosen() {
    paintChooser(motherboardChooser_, buttonFace());
    motherboardChooser_->lineEdit()->setCursorPosition(0);  // a long line shows its start
    if (cableChooser_->currentIndex() >= 0)
        showCableHelp();
    else
        markHelpStale();
}

void Kb90xxWindow::onCablePicked() {
    paintChooser(cableChooser_, buttonFace());
    if (motherboardPicked()) showCableHelp();
}

void Kb90xxWindow::onOrientationClicked() {
    if (motherboardPicked() && cableChooser_->currentIndex() >= 0) showCableHelp();
}

void Kb90xxWindow::showCableHelp() {
    const QString line = typedBoard_ ? motherboardChooser_->currentText() : selectedText(motherboardChooser_);
    const int width = cableWidthOf(selectedText(cableChooser_).toStdString()).value_or(0);
    const auto help = kb90xxCableHelp(line.toStdString(), width, orientationBox_->isChecked());
    if (help.kind == CableHelp::Kind::ValueError) {
        // The label keeps its text, marked as not belonging to this board.
        markHelpStale();
        return context_.desktop.errorBox(this, fromUtf8(help.text) + "\n" + QString::fromStdString(basePath_));
    }
    showHelpLine(fromUtf8(help.text));
}

void Kb90xxWindow::showHelpLine(const QString& text) {
    helpLabel_->setText(text);
    QFont font = helpLabel_->font();
    font.setStrikeOut(false);
    helpLabel_->setFont(font);
    helpLabel_->setStyleSheet({});
}

void Kb90xxWindow::markHelpStale() {
    if (helpLabel_->text().isEmpty()) return;
    QFont font = helpLabel_->font();
    font.setStrikeOut(true);
    helpLabel_->setFont(font);
    helpLabel_->setStyleSheet(QStringLiteral("color: gray"));
}

}  // namespace kj
