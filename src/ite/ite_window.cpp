#include "ite/ite_window.h"

#include "common/registry.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace kj {

namespace {
const WindowEntry kWindow{ite::kFamily, makeToolWindow<IteWindow>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

using namespace ite;

namespace {
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

// What the log shows when the window opens with it empty: how to connect and what to expect.
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
QGridLayout* labelledGauges(std::initializer_list<std::pair<Gauge*, QString>> gauges) {
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

IteWindow::IteWindow(AppContext& context, QWidget* launcher) : ChipWindow(context, launcher, ite::kFamily) {
    build({
        .name = "TITE_FORM",
        .caption = QStringLiteral("ITE 16_05_2016"),
        .buttons =
            {
                {.name = "ITE_SETUP_BitBtn",
                 .caption = QStringLiteral("Применить APPLY"),
                 .handler = [this] { onApply(); },
                 .slot = &applyButton_},
                {.name = "ITE_CHECK_CON_BitBtn",
                 .caption = QStringLiteral("Проверка связи check connection"),
                 .handler = [this] { sessions().checkConnection(); },
                 .slot = &checkButton_},
                {.name = "ITE_READ_BitBtn",
                 .caption = QStringLiteral("Чтение READ"),
                 .does = Does::Read,
                 .colour = kReadColour,
                 .slot = &readButton_},
                {.name = "ITE_WRITE_BitBtn",
                 .caption = QStringLiteral("Запись WRITE"),
                 .does = Does::Write,
                 .colour = kWriteColour,
                 .slot = &writeButton_},
                {.name = "ITE_EXIT_BitBtn",
                 .caption = QStringLiteral("Выход EXIT"),
                 .does = Does::Exit,
                 .slot = &exitButton_},
            },
        .log = {.name = "ITE_Memo1"},
        .gauges =
            {{.name = "ITE_CGauge1", .maximum = kPageCount, .colour = kPagesGaugeColour, .slot = &flashGauge_},
             {.name = "SPEED_ITE_CGauge", .maximum = kPageGaugeMax, .colour = kPageGaugeColour, .slot = &pageGauge_}},
        .layout = Layout::Own,
        // Room for a title bar and a panel on a 1366 x 768 screen.
        .size = {kWidth, kHeight},
        .locks = true,
        .exit = {.clearsLog = true, .emptiesGauge = true},
    });
    flashGauge_->setProgress(1);
    buildRouting();

    auto* middle = new QHBoxLayout;
    middle->addWidget(routingBox_);
    middle->addWidget(log(), 1);
    auto* buttons = new QHBoxLayout;
    for (auto* button : {checkButton_, readButton_, writeButton_}) buttons->addWidget(button);
    buttons->addWidget(jobField());
    buttons->addStretch();
    buttons->addWidget(exitButton_);
    auto* layout = new QVBoxLayout(canvas());
    layout->addWidget(motherboardChooser_);
    layout->addWidget(orientationBox_);
    layout->addLayout(middle, 1);
    layout->addLayout(labelledGauges({{flashGauge_, kWholeFlashCaption}, {pageGauge_, kPageCaption}}));
    layout->addLayout(buttons);
    onCreate();
}

void IteWindow::buildRouting() {
    motherboardChooser_ = new QComboBox(canvas());
    motherboardChooser_->setObjectName("ITE_ComboBox_MB_SWITCH");
    motherboardChooser_->setMaxVisibleItems(kBoardRows);
    motherboardChooser_->setMinimumContentsLength(kBoardTextLength);
    motherboardChooser_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(motherboardChooser_, &QComboBox::activated, this, &IteWindow::onMotherboardPicked);

    orientationBox_ = new QCheckBox(kOrientation, canvas());
    orientationBox_->setObjectName("ITE_CheckBox");
    orientationBox_->setChecked(true);
    orientationBox_->setEnabled(false);
    connect(orientationBox_, &QCheckBox::clicked, this, &IteWindow::onOrientationClicked);

    routingBox_ = new QGroupBox(kGroupTitle, canvas());
    routingBox_->setObjectName("GroupBox1");
    auto* grid = new QGridLayout(routingBox_);
    grid->setVerticalSpacing(1);  // fifteen rows in a window that fits a laptop screen
    for (size_t row = 0; row < kSignalCount; ++row) {
        const Signal& signal = kSignals[row];
        auto* label = new QLabel(fromUtf8(signal.label), routingBox_);
        label->setObjectName(QStringLiteral("Label%1").arg(row + 1));
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        paintText(label, qColour(signal.colour));
        pinLabels_[row] = label;
        pinSelectors_[row] = makePinSelector(row);
        grid->addWidget(label, static_cast<int>(row), 0);
        grid->addWidget(pinSelectors_[row], static_cast<int>(row), 1);
    }
    grid->addWidget(applyButton_, static_cast<int>(kSignalCount), 0, 1, 2);
}

QComboBox* IteWindow::makePinSelector(size_t row) {
    auto* selector = new QComboBox(routingBox_);
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
void IteWindow::onCreate() {
    std::vector<QString> instructions;
    for (auto line : kInstructions) instructions.push_back(fromUtf8(line));
    const std::string path = baseFilePath(kBaseFile).string();
    std::string error;
    const auto base = loadBase(path, error);
    if (!base) {
        motherboardChooser_->addItem(QString::fromStdString(noBaseEntry(path)));
        motherboardChooser_->setToolTip(QString::fromStdString(fileProblem(path, error) + "\n" + baseLineFormat()));
        instructions.push_back(QString::fromStdString(baseLineFormat()));
        paintText(motherboardChooser_, Qt::red);
    } else {
        motherboardChooser_->addItem(fromUtf8(kChooseBoardEntry));
        for (const auto& line : *base) motherboardChooser_->addItem(QString::fromStdString(line));
        motherboardChooser_->setToolTip(QString::fromStdString(path));
        paintText(motherboardChooser_, Qt::black);
    }
    motherboardChooser_->setCurrentIndex(0);
    setInstructions(log(), std::move(instructions));
}

// ---- routing ----

Routing IteWindow::selectedPins() const {
    Routing pins{};
    for (size_t row = 0; row < kSignalCount; ++row)
        pins[row] = static_cast<uint8_t>(std::max(pinSelectors_[row]->currentIndex(), kNotConnected));
    return pins;
}

void IteWindow::showPins(const Routing& pins) {
    for (size_t row = 0; row < kSignalCount; ++row) {
        pinSelectors_[row]->setCurrentIndex(pins[row]);
        pinSelectors_[row]->setEditText(pinSelectors_[row]->itemText(pins[row]));
    }
}

void IteWindow::pinTyped(QComboBox* selector) {
    const int pin = pinOfText(selector->currentText().toStdString()).value_or(selector->currentIndex());
    selector->setCurrentIndex(pin);
    selector->setEditText(selector->itemText(pin));
}

void IteWindow::commitTypedPins() {
    for (auto* selector : pinSelectors_) pinTyped(selector);
}

void IteWindow::onMotherboardPicked(int index) {
    orientationBox_->setEnabled(false);
    if (index <= 0) return;
    orientationBox_->setChecked(true);
    commitTypedPins();
    const AppliedLine applied = applyBaseLine(motherboardChooser_->itemText(index).toStdString(), selectedPins());
    showPins(applied.pins);
    if (!applied.complete) return frontend().log(applied.message);
    orientationBox_->setEnabled(true);
}

// The mark stays true to the selectors: a mirroring refused leaves it as it was.
void IteWindow::onOrientationClicked() {
    commitTypedPins();
    const Mirroring mirrored = mirrorRouting(motherboardChooser_->currentText().toStdString(), selectedPins());
    if (!mirrored.done) {
        orientationBox_->setChecked(!orientationBox_->isChecked());
        return frontend().log(mirrored.message);
    }
    showPins(mirrored.pins);
}

void IteWindow::onApply() {
    commitTypedPins();
    if (!tool().operation().idle()) return;
    applying_ = true;
    sessions().applyRouting(selectedPins());
}

// A routing the programmer took opens the rest of the window.
void IteWindow::operationDone() {
    if (!std::exchange(applying_, false) || !tool().operation().lastSucceeded()) return;
    for (auto* button : {checkButton_, exitButton_, writeButton_, readButton_}) button->setEnabled(true);
}

}  // namespace kj
