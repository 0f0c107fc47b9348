#include "kb90xx/kb90xx_window.h"

#include "common/registry.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "kb90xx/cable_help.h"

namespace kj {

namespace {
const WindowEntry kWindow{kb90xx::kFamily, makeToolWindow<TKB901X_forms>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kMemoPixels = 13;
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

TKB901X_forms::TKB901X_forms(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("KB9010/9012/9016/9022  programming VER4.1"), kb90xx::kFamily) {
    setObjectName("KB901X_forms");
    makeButtons({
        {&KB901X_READ, "KB901X_READ", "KB90XX_READ", [this] { KB901X_READClick(); }, kReadColour},
        {&KB901X_WRITE, "KB901X_WRITE", "KB90XX_WRITE", [this] { KB901X_WRITEClick(); }, kWriteColour},
        {&EXIT_KB901X, "EXIT_KB901X", "EXIT", [this] { EXIT_KB901XClick(); }},
    });
    KB901X_Memo = makeLog("KB901X_Memo", kMemoPixels);
    const auto gauges = makeGauges({{&CGauge_KB901X, "CGauge_KB901X", kb90xx::kGaugeMax}});
    buildCableHelp();
    layOut(GroupBox1, KB901X_Memo, gauges, {KB901X_READ, KB901X_WRITE}, EXIT_KB901X);
    resize(760, 560);
    attachFrontend(KB901X_Memo, gauges,
                   lockingButtons({{kb90xx::kReading, KB901X_READ}, {kb90xx::kWriting, KB901X_WRITE}},
                                  {.saveCanClose = [this] { SaveDialog_KB90CanClose(); },
                                   .openCanClose = [this] { OpenDialog_KB90CanClose(); }}));
    programmer_ = std::make_unique<Kb90xxProgrammer>(bridge(), frontend());
    FormCreate();
}

void TKB901X_forms::buildCableHelp() {
    GroupBox1 = new QGroupBox(QStringLiteral(" Help for FFC cable connection "), canvas());
    GroupBox1->setObjectName("GroupBox1");
    ComboBox_KB901X = makeChooser(GroupBox1, "ComboBox_KB901X", kSelectMotherboard);
    ComboBox_KB901X->setMaxVisibleItems(kMotherboardRows);
    ComboBox_KB901X_FFC = makeChooser(GroupBox1, "ComboBox_KB901X_FFC", kSelectCable);
    for (auto width : kKb90xxCableWidths) ComboBox_KB901X_FFC->addItem(fromUtf8(width));
    ComboBox_KB901X_FFC->setCurrentIndex(-1);
    ComboBox_KB901X_FFC->setEditText(kSelectCable);
    ComboBox_KB901X_FFC->lineEdit()->setCursorPosition(0);
    CheckBox_KB901X =
        new QCheckBox(QStringLiteral("Pin 1 connected  to pin 1 on the MB keyboard connector"), GroupBox1);
    CheckBox_KB901X->setObjectName("CheckBox_KB901X");
    CheckBox_KB901X->setChecked(true);
    CheckBox_KB901X->setEnabled(false);
    Label_result = new QLabel(QStringLiteral("*************"), GroupBox1);
    Label_result->setObjectName("Label_result");
    QFont bold = Label_result->font();
    bold.setBold(true);
    Label_result->setFont(bold);
    Label_result->setWordWrap(true);

    auto* row = new QHBoxLayout;
    row->addWidget(ComboBox_KB901X_FFC);
    row->addWidget(CheckBox_KB901X, 1);
    auto* layout = new QVBoxLayout(GroupBox1);
    layout->addWidget(ComboBox_KB901X);
    layout->addLayout(row);
    layout->addWidget(Label_result);

    connect(ComboBox_KB901X, &QComboBox::activated, this, &TKB901X_forms::ComboBox_KB901XSelect);
    connect(ComboBox_KB901X_FFC, &QComboBox::activated, this, &TKB901X_forms::ComboBox_KB901X_FFCSelect);
    connect(CheckBox_KB901X, &QCheckBox::clicked, this, &TKB901X_forms::CheckBox_KB901XClick);
    // Typing is limited, a chosen entry is shown whole.
    connect(ComboBox_KB901X->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        typedBoard_ = false;
        if (text.size() > kMotherboardTyping) ComboBox_KB901X->lineEdit()->setText(text.left(kMotherboardTyping));
    });
    connect(ComboBox_KB901X->lineEdit(), &QLineEdit::returnPressed, this, &TKB901X_forms::motherboardTyped);
}

// Loads the motherboard connection base, once for the life of the window.
void TKB901X_forms::FormCreate() {
    if (ComboBox_KB901X->currentIndex() < 0) paintChooser(ComboBox_KB901X, kAwaitingChoice);
    if (ComboBox_KB901X_FFC->currentIndex() < 0) paintChooser(ComboBox_KB901X_FFC, kAwaitingChoice);
    basePath_ = baseFilePath(kKb90xxBaseFile).string();
    Label_result->setToolTip(QString::fromStdString(basePath_));
    std::string error;
    const auto base = loadBase(basePath_, error);
    if (!base) {
        Label_result->setText(QString::fromStdString(kb90xxNoBaseText(basePath_)));
        Label_result->setToolTip(QString::fromStdString(fileProblem(basePath_, error)));
        paintChooser(ComboBox_KB901X, buttonFace());
        paintChooser(ComboBox_KB901X_FFC, buttonFace());
        return;
    }
    ComboBox_KB901X->setEnabled(true);
    ComboBox_KB901X_FFC->setEnabled(true);
    CheckBox_KB901X->setEnabled(true);
    Label_result->clear();
    for (const auto& line : *base) ComboBox_KB901X->addItem(QString::fromStdString(line));
    ComboBox_KB901X->setCurrentIndex(-1);
    ComboBox_KB901X->setEditText(kSelectMotherboard);
    ComboBox_KB901X_FFC->setEditText(kSelectCable);
    ComboBox_KB901X_FFC->lineEdit()->setCursorPosition(0);
}

// ---- read and write ----

void TKB901X_forms::KB901X_READClick() { programmer_->startRead(); }

void TKB901X_forms::KB901X_WRITEClick() { programmer_->startWrite(); }

void TKB901X_forms::EXIT_KB901XClick() {
    if (!programmer_->operation().idle()) return;
    clearLogLines(KB901X_Memo);
    showLauncherAndHide();
    CGauge_KB901X->setProgress(0);
}

void TKB901X_forms::SaveDialog_KB90CanClose() { setDialogConfirmed(); }

void TKB901X_forms::OpenDialog_KB90CanClose() { setDialogConfirmed(); }

// ---- cable help ----

bool TKB901X_forms::motherboardPicked() const { return typedBoard_ || ComboBox_KB901X->currentIndex() >= 0; }

void TKB901X_forms::ComboBox_KB901XSelect() {
    typedBoard_ = false;
    boardChosen();
}

// A board typed and confirmed with Return counts as chosen: its own text is the line.
void TKB901X_forms::motherboardTyped() {
    const int match = ComboBox_KB901X->findText(ComboBox_KB901X->currentText(), Qt::MatchExactly);
    if (match >= 0) ComboBox_KB901X->setCurrentIndex(match);
    typedBoard_ = match < 0;
    boardChosen();
}

void TKB901X_forms::boardChosen() {
    paintChooser(ComboBox_KB901X, buttonFace());
    ComboBox_KB901X->lineEdit()->setCursorPosition(0);  // a long line shows its start
    if (ComboBox_KB901X_FFC->currentIndex() >= 0)
        ShowCableHelp_KB90();
    else
        markHelpStale();
}

void TKB901X_forms::ComboBox_KB901X_FFCSelect() {
    paintChooser(ComboBox_KB901X_FFC, buttonFace());
    if (motherboardPicked()) ShowCableHelp_KB90();
}

void TKB901X_forms::CheckBox_KB901XClick() {
    if (motherboardPicked() && ComboBox_KB901X_FFC->currentIndex() >= 0) ShowCableHelp_KB90();
}

void TKB901X_forms::ShowCableHelp_KB90() {
    const QString line = typedBoard_ ? ComboBox_KB901X->currentText() : selectedText(ComboBox_KB901X);
    const int width = cableWidthOf(selectedText(ComboBox_KB901X_FFC).toStdString()).value_or(0);
    const auto help = kb90xxCableHelp(line.toStdString(), width, CheckBox_KB901X->isChecked());
    if (help.kind == CableHelp::Kind::ValueError) {
        // The label keeps its text, marked as not belonging to this board.
        markHelpStale();
        return context_.desktop.errorBox(this, fromUtf8(help.text) + "\n" + QString::fromStdString(basePath_));
    }
    showHelpLine(fromUtf8(help.text));
}

void TKB901X_forms::showHelpLine(const QString& text) {
    Label_result->setText(text);
    QFont font = Label_result->font();
    font.setStrikeOut(false);
    Label_result->setFont(font);
    Label_result->setStyleSheet({});
}

void TKB901X_forms::markHelpStale() {
    if (Label_result->text().isEmpty()) return;
    QFont font = Label_result->font();
    font.setStrikeOut(true);
    Label_result->setFont(font);
    Label_result->setStyleSheet(QStringLiteral("color: gray"));
}

}  // namespace kj
