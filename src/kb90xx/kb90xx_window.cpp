#include "kb90xx/kb90xx_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "kb90xx/cable_help.h"

namespace kj {

namespace {
constexpr int kMemoPixels = 13;
constexpr int kMotherboardRows = 20;
constexpr int kMotherboardTyping = 15;
const QColor kReadColour(0, 0x80, 0);
const QColor kWriteColour(0xC0, 0, 0);
const QColor kAwaitingChoice(255, 255, 0);

const QString kSelectMotherboard = QStringLiteral("Step 1 -> Select MB");
const QString kSelectCable = QStringLiteral("Step 2 -> Select FFC cable you used");

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

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
}  // namespace

TKB901X_forms::TKB901X_forms(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("KB9010/9012/9016/9022  programming VER4.1"), "V41") {
    setObjectName("KB901X_forms");
    buildControls();
    WindowFrontend::Hooks hooks;
    hooks.started = [this](std::string_view name) { operationStarted(name); };
    hooks.ended = [this] { operationEnded(); };
    hooks.saveCanClose = [this] { SaveDialog_KB90CanClose(); };
    hooks.openCanClose = [this] { OpenDialog_KB90CanClose(); };
    hooks.confirmed = &dialogConfirmed_;
    frontend_ = std::make_unique<WindowFrontend>(this, KB901X_Memo, CGauge_KB901X, context.desktop, std::move(hooks));
    programmer_ = std::make_unique<Kb90xxProgrammer>(bridge(), *frontend_);
    FormCreate();
}

void TKB901X_forms::buildControls() {
    KB901X_READ = makeButton(this, "KB901X_READ", QStringLiteral("KB90XX_READ"), kReadColour);
    KB901X_WRITE = makeButton(this, "KB901X_WRITE", QStringLiteral("KB90XX_WRITE"), kWriteColour);
    EXIT_KB901X = makeButton(this, "EXIT_KB901X", QStringLiteral("EXIT"));
    KB901X_Memo = makeMemo(this, "KB901X_Memo", kMemoPixels);
    CGauge_KB901X = new TCGauge(this);
    CGauge_KB901X->setObjectName("CGauge_KB901X");
    CGauge_KB901X->setMaxValue(kb90xx::kGaugeMax);
    buildCableHelp();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(KB901X_READ);
    buttons->addWidget(KB901X_WRITE);
    buttons->addStretch();
    buttons->addWidget(EXIT_KB901X);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(KB901X_Memo, 1);
    layout->addWidget(CGauge_KB901X);
    layout->addLayout(buttons);
    resize(760, 560);

    connect(KB901X_READ, &QPushButton::clicked, this, &TKB901X_forms::KB901X_READClick);
    connect(KB901X_WRITE, &QPushButton::clicked, this, &TKB901X_forms::KB901X_WRITEClick);
    connect(EXIT_KB901X, &QPushButton::clicked, this, &TKB901X_forms::EXIT_KB901XClick);
}

void TKB901X_forms::buildCableHelp() {
    GroupBox1 = new QGroupBox(QStringLiteral(" Help for FFC cable connection "), this);
    GroupBox1->setObjectName("GroupBox1");
    ComboBox_KB901X = makeChooser(GroupBox1, "ComboBox_KB901X", kSelectMotherboard);
    ComboBox_KB901X->setMaxVisibleItems(kMotherboardRows);
    // Limits typing only: a chosen entry is shown whole.
    ComboBox_KB901X->lineEdit()->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^.{0,%1}$").arg(kMotherboardTyping)), ComboBox_KB901X));
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
}

// Loads the motherboard connection base, once for the life of the window.
void TKB901X_forms::FormCreate() {
    if (!picked(ComboBox_KB901X)) paintChooser(ComboBox_KB901X, kAwaitingChoice);
    if (!picked(ComboBox_KB901X_FFC)) paintChooser(ComboBox_KB901X_FFC, kAwaitingChoice);
    const auto path = baseFilePath(kKb90xxBaseFile);
    Label_result->setToolTip(QString::fromStdString(path.string()));
    const auto base = loadBase(path);
    if (!base) {
        Label_result->setText(fromUtf8(kNoKb90xxBase));
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
    if (!programmer_->operation().isIdle()) return;
    clearLogLines(KB901X_Memo);
    showLauncherAndHide();
    CGauge_KB901X->setProgress(0);
}

void TKB901X_forms::SaveDialog_KB90CanClose() { dialogConfirmed_ = true; }

void TKB901X_forms::OpenDialog_KB90CanClose() { dialogConfirmed_ = true; }

// A read leaves its own button enabled (a second click is ignored while busy).
void TKB901X_forms::operationStarted(std::string_view name) {
    const bool reading = name == kb90xx::kReading;
    (reading ? KB901X_WRITE : KB901X_READ)->setEnabled(false);
    EXIT_KB901X->setEnabled(false);
}

void TKB901X_forms::operationEnded() {
    KB901X_READ->setEnabled(true);
    KB901X_WRITE->setEnabled(true);
    EXIT_KB901X->setEnabled(true);
}

// ---- cable help ----

void TKB901X_forms::ComboBox_KB901XSelect() {
    paintChooser(ComboBox_KB901X, buttonFace());
    ComboBox_KB901X->lineEdit()->setCursorPosition(0);  // a long line shows its start
    if (picked(ComboBox_KB901X_FFC)) ShowCableHelp_KB90();
}

void TKB901X_forms::ComboBox_KB901X_FFCSelect() {
    paintChooser(ComboBox_KB901X_FFC, buttonFace());
    if (picked(ComboBox_KB901X)) ShowCableHelp_KB90();
}

void TKB901X_forms::CheckBox_KB901XClick() {
    if (picked(ComboBox_KB901X) && picked(ComboBox_KB901X_FFC)) ShowCableHelp_KB90();
}

void TKB901X_forms::ShowCableHelp_KB90() {
    const auto line = selectedText(ComboBox_KB901X).toStdString();
    const int width = cableWidthOf(selectedText(ComboBox_KB901X_FFC).toStdString()).value_or(0);
    const auto help = kb90xxCableHelp(line, width, CheckBox_KB901X->isChecked());
    if (help.kind == CableHelp::Kind::ValueError) return context_.desktop.errorBox(this, fromUtf8(help.text));
    Label_result->setText(fromUtf8(help.text));
}

}  // namespace kj
