#include "ite/ite_window.h"

#include "common/registry.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace kj {

namespace {
const WindowEntry kWindow{ite::kFamily, makeToolWindow<TITE_FORM>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

using namespace ite;

namespace {
constexpr int kMemoPixels = 13;
constexpr int kBoardRows = 30;
constexpr int kBoardTextLength = 80;  // a long base line does not widen the window
constexpr int kPinTyping = 2;
constexpr int kWidth = 1200;
constexpr int kHeight = 640;
const QString kWholeFlashCaption = QStringLiteral("Вся флеш whole flash");
const QString kPageCaption = QStringLiteral("Страница page");
const QColor kPageGaugeColour(255, 255, 0);
const QColor kPagesGaugeColour(0, 255, 0);
const QString kGroupTitle = QStringLiteral(" Ножка ITE -> ножка разъёма клавиатуры ");
const QString kOrientation =
    QStringLiteral("1 pin программатора соединен с 1 pin разьема клавиатуры на MB (прямой или обратный шлейф)");

// The log window's text when the window is created: how to connect and what to expect.
constexpr std::array<std::string_view, 17> kInstructions{
    "Порядок подключения:",
    "1 Подключить нужным шлейфом программатор и MB. ",
    "Кол-во контактов в шлейфе должно быть равно количеству контактов разьема клавиатуры.",
    "На программаторе шлейф \"загоняем\" к первому выводу! MB не запитывать! ",
    "Программатор подключить к PC. Не забудьте про землю между программатором и MB!",
    "2 Настроить управляющие сигналы и нажать \"Применить\".  ",
    "3 Нажать \"Проверка связи\". И в течении 5 секунд  ",
    "подключить адаптер к MB. Можно попробовать подключить ",
    "адаптер и потом нажать \"Проверка связи\". Чаще всего все получится.",
    "5 Теперь \"Чтение\" или \"Запись\". По окончании - обесточить ",
    "MB и отключить шлейф.",
    "",
    "Чтение всех 128КБ около 20 сек. ",
    "Запись до 10 минут и напрямую зависит от \"содержимого\" прошивки. ",
    "Память мультиконтроллера, на большинстве плат, используется на 50%, ",
    "поэтому время записи около 5 минут.",
    "",
};

// Each gauge with what it measures at its left.
QGridLayout* labelledGauges(std::initializer_list<std::pair<TCGauge*, QString>> gauges) {
    auto* grid = new QGridLayout;
    for (int row = 0; const auto& [gauge, caption] : gauges) {
        auto* label = new QLabel(caption);
        label->setObjectName(gauge->objectName() + "_label");
        label->setBuddy(gauge);
        grid->addWidget(label, row, 0);
        grid->addWidget(gauge, row++, 1);
    }
    grid->setColumnStretch(1, 1);
    return grid;
}

QColor qColour(Rgb colour) { return QColor(colour.r, colour.g, colour.b); }

void paintText(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText}) palette.setColor(role, colour);
    widget->setPalette(palette);
}
}  // namespace

TITE_FORM::TITE_FORM(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("ITE 16_05_2016"), ite::kFamily) {
    setObjectName("TITE_FORM");
    makeButtons({
        {&ITE_SETUP_BitBtn, "ITE_SETUP_BitBtn", QStringLiteral("Применить APPLY"), [this] { ITE_SETUP_BitBtnClick(); }},
        {&ITE_CHECK_CON_BitBtn, "ITE_CHECK_CON_BitBtn", QStringLiteral("Проверка связи check connection"),
         [this] { ITE_CHECK_CON_BitBtnClick(); }},
        {&ITE_READ_BitBtn, "ITE_READ_BitBtn", QStringLiteral("Чтение READ"), [this] { ITE_READ_BitBtnClick(); },
         kReadColour},
        {&ITE_WRITE_BitBtn, "ITE_WRITE_BitBtn", QStringLiteral("Запись WRITE"), [this] { ITE_WRITE_BitBtnClick(); },
         kWriteColour},
        {&ITE_EXIT_BitBtn, "ITE_EXIT_BitBtn", QStringLiteral("Выход EXIT"), [this] { ITE_EXIT_BitBtnClick(); }},
    });
    ITE_Memo1 = makeLog("ITE_Memo1", kMemoPixels);
    const auto gauges = makeGauges({
        {&ITE_CGauge1, "ITE_CGauge1", kPageCount, {}, kPagesGaugeColour},
        {&SPEED_ITE_CGauge, "SPEED_ITE_CGauge", kPageGaugeMax, {}, kPageGaugeColour},
    });
    ITE_CGauge1->setProgress(1);
    buildRouting();

    auto* middle = new QHBoxLayout;
    middle->addWidget(GroupBox1);
    middle->addWidget(ITE_Memo1, 1);
    auto* buttons = new QHBoxLayout;
    for (auto* button : {ITE_CHECK_CON_BitBtn, ITE_READ_BitBtn, ITE_WRITE_BitBtn}) buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(ITE_EXIT_BitBtn);
    auto* layout = new QVBoxLayout(canvas());
    layout->addWidget(ITE_ComboBox_MB_SWITCH);
    layout->addWidget(ITE_CheckBox);
    layout->addLayout(middle, 1);
    layout->addLayout(labelledGauges({{ITE_CGauge1, kWholeFlashCaption}, {SPEED_ITE_CGauge, kPageCaption}}));
    layout->addLayout(buttons);
    // Room for a title bar and a panel on a 1366 x 768 screen.
    resize(kWidth, kHeight);

    attachFrontend(ITE_Memo1, gauges,
                   lockingButtons({{ite::kReading, ITE_READ_BitBtn}, {ite::kWriting, ITE_WRITE_BitBtn}},
                                  {.saveCanClose = [this] { ITE_SaveDialogCanClose(); },
                                   .openCanClose = [this] { ITE_OpenDialogCanClose(); }}));
    programmer_ = std::make_unique<IteProgrammer>(bridge(), frontend());
    FormCreate();
}

void TITE_FORM::buildRouting() {
    ITE_ComboBox_MB_SWITCH = new QComboBox(canvas());
    ITE_ComboBox_MB_SWITCH->setObjectName("ITE_ComboBox_MB_SWITCH");
    ITE_ComboBox_MB_SWITCH->setMaxVisibleItems(kBoardRows);
    ITE_ComboBox_MB_SWITCH->setMinimumContentsLength(kBoardTextLength);
    ITE_ComboBox_MB_SWITCH->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(ITE_ComboBox_MB_SWITCH, &QComboBox::activated, this, &TITE_FORM::ITE_ComboBox_MB_SWITCHSelect);

    ITE_CheckBox = new QCheckBox(kOrientation, canvas());
    ITE_CheckBox->setObjectName("ITE_CheckBox");
    ITE_CheckBox->setChecked(true);
    ITE_CheckBox->setEnabled(false);
    connect(ITE_CheckBox, &QCheckBox::clicked, this, &TITE_FORM::ITE_CheckBoxClick);

    GroupBox1 = new QGroupBox(kGroupTitle, canvas());
    GroupBox1->setObjectName("GroupBox1");
    auto* grid = new QGridLayout(GroupBox1);
    grid->setVerticalSpacing(1);  // fifteen rows in a window that fits a laptop screen
    for (size_t row = 0; row < kSignalCount; ++row) {
        const Signal& signal = kSignals[row];
        auto* label = new QLabel(fromUtf8(signal.label), GroupBox1);
        label->setObjectName(QStringLiteral("Label%1").arg(row + 1));
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        paintText(label, qColour(signal.colour));
        Label[row] = label;
        ComboBox[row] = makePinSelector(row);
        grid->addWidget(label, static_cast<int>(row), 0);
        grid->addWidget(ComboBox[row], static_cast<int>(row), 1);
    }
    grid->addWidget(ITE_SETUP_BitBtn, static_cast<int>(kSignalCount), 0, 1, 2);
}

QComboBox* TITE_FORM::makePinSelector(size_t row) {
    auto* selector = new QComboBox(GroupBox1);
    selector->setObjectName(QStringLiteral("ComboBox%1").arg(row + 1));
    selector->setEditable(true);
    selector->setInsertPolicy(QComboBox::NoInsert);
    for (int pin = kNotConnected; pin <= kMaxPin; ++pin) selector->addItem(QString::fromStdString(pinText(pin)));
    selector->setCurrentIndex(kNotConnected);
    selector->lineEdit()->setMaxLength(kPinTyping);
    connect(selector->lineEdit(), &QLineEdit::editingFinished, this, [this, selector] { pinTyped(selector); });
    return selector;
}

// Loads the motherboard connection base, once for the life of the window.
void TITE_FORM::FormCreate() {
    for (auto line : kInstructions) appendLogLine(ITE_Memo1, fromUtf8(line));
    const std::string path = baseFilePath(kBaseFile).string();
    std::string error;
    const auto base = loadBase(path, error);
    if (!base) {
        ITE_ComboBox_MB_SWITCH->addItem(QString::fromStdString(noBaseEntry(path)));
        ITE_ComboBox_MB_SWITCH->setToolTip(QString::fromStdString(fileProblem(path, error) + "\n" + baseLineFormat()));
        appendLogLine(ITE_Memo1, QString::fromStdString(baseLineFormat()));
        paintText(ITE_ComboBox_MB_SWITCH, Qt::red);
    } else {
        ITE_ComboBox_MB_SWITCH->addItem(fromUtf8(kChooseBoardEntry));
        for (const auto& line : *base) ITE_ComboBox_MB_SWITCH->addItem(QString::fromStdString(line));
        ITE_ComboBox_MB_SWITCH->setToolTip(QString::fromStdString(path));
        paintText(ITE_ComboBox_MB_SWITCH, Qt::black);
    }
    ITE_ComboBox_MB_SWITCH->setCurrentIndex(0);
}

// ---- routing ----

Routing TITE_FORM::selectedPins() const {
    Routing pins{};
    for (size_t row = 0; row < kSignalCount; ++row)
        pins[row] = static_cast<uint8_t>(std::max(ComboBox[row]->currentIndex(), kNotConnected));
    return pins;
}

void TITE_FORM::showPins(const Routing& pins) {
    for (size_t row = 0; row < kSignalCount; ++row) {
        ComboBox[row]->setCurrentIndex(pins[row]);
        ComboBox[row]->setEditText(ComboBox[row]->itemText(pins[row]));
    }
}

void TITE_FORM::pinTyped(QComboBox* selector) {
    const int pin = pinOfText(selector->currentText().toStdString()).value_or(selector->currentIndex());
    selector->setCurrentIndex(pin);
    selector->setEditText(selector->itemText(pin));
}

void TITE_FORM::commitTypedPins() {
    for (auto* selector : ComboBox) pinTyped(selector);
}

void TITE_FORM::ITE_ComboBox_MB_SWITCHSelect(int index) {
    ITE_CheckBox->setEnabled(false);
    if (index <= 0) return;
    ITE_CheckBox->setChecked(true);
    commitTypedPins();
    const AppliedLine applied = applyBaseLine(ITE_ComboBox_MB_SWITCH->itemText(index).toStdString(), selectedPins());
    showPins(applied.pins);
    if (!applied.complete) return frontend().log(applied.message);
    ITE_CheckBox->setEnabled(true);
}

// The mark stays true to the selectors: a mirroring refused leaves it as it was.
void TITE_FORM::ITE_CheckBoxClick() {
    commitTypedPins();
    const Mirroring mirrored = mirrorRouting(ITE_ComboBox_MB_SWITCH->currentText().toStdString(), selectedPins());
    if (!mirrored.done) {
        ITE_CheckBox->setChecked(!ITE_CheckBox->isChecked());
        return frontend().log(mirrored.message);
    }
    showPins(mirrored.pins);
}

void TITE_FORM::ITE_SETUP_BitBtnClick() {
    commitTypedPins();
    if (!programmer_->operation().idle()) return;
    applying_ = true;
    programmer_->applyRouting(selectedPins());
}

// A routing the programmer took opens the rest of the window.
void TITE_FORM::operationDone() {
    if (!std::exchange(applying_, false) || !programmer_->lastSucceeded()) return;
    for (auto* button : {ITE_CHECK_CON_BitBtn, ITE_EXIT_BitBtn, ITE_WRITE_BitBtn, ITE_READ_BitBtn})
        button->setEnabled(true);
}

// ---- link check, read and write ----

void TITE_FORM::ITE_CHECK_CON_BitBtnClick() { programmer_->checkConnection(); }

void TITE_FORM::ITE_READ_BitBtnClick() { programmer_->startRead(); }

void TITE_FORM::ITE_WRITE_BitBtnClick() { programmer_->startWrite(); }

void TITE_FORM::ITE_EXIT_BitBtnClick() {
    if (!programmer_->operation().idle()) return;
    clearLogLines(ITE_Memo1);
    showLauncherAndHide();
    ITE_CGauge1->setProgress(0);
}

void TITE_FORM::ITE_SaveDialogCanClose() { setDialogConfirmed(); }

void TITE_FORM::ITE_OpenDialogCanClose() { setDialogConfirmed(); }

}  // namespace kj
