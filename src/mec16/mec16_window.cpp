#include "mec16/mec16_window.h"

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{mec16::kFamily, makeToolWindow<Mec16Window>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kWidth = 905;
constexpr int kHeight = 590;
constexpr int kTextPixels = 13;
constexpr int kGaugePixels = 27;
const QRect kMemoPlace(408, 16, 489, 497);
const QRect kGaugePlace(13, 528, 876, 52);

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect place) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(courier(kTextPixels));
    label->setGeometry(place);
    return label;
}

QColor qColour(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }
}  // namespace

Mec16Window::Mec16Window(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("Чтение и запись MEC16"), mec16::kFamily) {
    setObjectName("MEC16_Form");
    setCanvasSize(kWidth, kHeight);
    makeButtons({
        {&checkButton_, "BitBtn_MEC16", QStringLiteral("Проверка отклика от MEC16"), [this] { onCheckResponse(); },
         Qt::black, QRect(16, 16, 369, 49)},
        {&readButton_, "BitBtn_RD_MEC16", QStringLiteral("Чтение FLASH MEC16 "), [this] { onRead(); }, Qt::black,
         QRect(16, 200, 369, 49)},
        {&eraseButton_, "BitBtn_MEC16_ERASE", QStringLiteral("Стирание FLASH MEC16"), [this] { onErase(); }, Qt::black,
         QRect(16, 288, 369, 49)},
        {&writeButton_, "BitBtn_MEC16_WRITE", QStringLiteral("Запись FLASH MEC16"), [this] { onWrite(); }, Qt::black,
         QRect(16, 384, 369, 49)},
        {&exitButton_, "EXIT_MEC16", QStringLiteral("СТОП или ВЫХОД"), [this] { onExit(); }, Qt::black,
         QRect(16, 464, 185, 49)},
        {&helpButton_, "BitBtn_MEC16_HELP", QStringLiteral("HELP"), [this] { onHelp(); }, Qt::black,
         QRect(216, 464, 169, 49)},
    });
    buildIndicators();
    buildCheckBoxes();
    log_ = makeLog("Memo_MEC16", kTextPixels, kMemoPlace);
    const auto gauges = makeGauges({{&gauge_, "CGauge_MEC16", mec16::kGaugeMaxAtStart, kGaugePlace}});
    gauge_->setFont(courier(kGaugePixels, true));
    // The window disables no control while it works: the operation name keeps operations apart.
    attachFrontend(log_, gauges);
    onEvent<mec16::IndicatorEvent>([this](const mec16::IndicatorEvent& event) { showIndicator(event); });
    onCreate();
}

void Mec16Window::buildIndicators() {
    const struct {
        Shape** shape;
        const char* shapeName;
        QRect shapePlace;
        QLabel** label;
        const char* labelName;
        QString text;
        QRect labelPlace;
    } rows[] = {
        {&bootLockShape_, "Shape_BootLock_MEC", QRect(16, 80, 17, 15), &bootLockLabel_, "Label_BootLock_MEC",
         QStringLiteral("Зеленый=Boot_Lock не установлен"), QRect(48, 80, 248, 16)},
        {&writeProtectShape_, "Shape_FWP_MEC16", QRect(16, 104, 17, 15), &writeProtectLabel_, "Label_MEC16_FWP",
         QStringLiteral("Зеленый=запись/стирание разрешено"), QRect(48, 104, 264, 16)},
    };
    for (const auto& row : rows) {
        auto* shape = new Shape(canvas());
        shape->setObjectName(row.shapeName);
        shape->setGeometry(row.shapePlace);
        shape->setBrushColor(Qt::black);
        *row.shape = shape;
        *row.label = makeLabel(canvas(), row.labelName, row.text, row.labelPlace);
    }
}

void Mec16Window::buildCheckBoxes() {
    const struct {
        QCheckBox** box;
        const char* name;
        QString text;
        int top;
    } rows[] = {
        {&readInfoBox_, "CheckBox_MEC16_RD", QStringLiteral("INFO область тоже читать в файл"), 176},
        {&eraseInfoBox_, "CheckBox_erase_mec16", QStringLiteral("INFO область тоже стирать"), 264},
        {&writeInfoBox_, "CheckBox_write_mec16", QStringLiteral("INFO область тоже записывать"), 352},
    };
    for (const auto& row : rows) {
        auto* box = new QCheckBox(row.text, canvas());
        box->setObjectName(row.name);
        box->setFont(courier(kTextPixels));
        box->setGeometry(16, row.top, 369, 17);
        *row.box = box;
    }
    // The INFO block cannot be written yet.
    writeInfoBox_->setEnabled(false);
}

void Mec16Window::onCreate() {
    std::vector<QString> intro;
    for (std::string_view line : mec16::kIntroLines) intro.push_back(fromUtf8(line));
    setInstructions(log_, std::move(intro));
}

void Mec16Window::showIndicator(const mec16::IndicatorEvent& event) {
    (event.which == mec16::Indicator::BootLock ? bootLockShape_ : writeProtectShape_)
        ->setBrushColor(qColour(event.colour));
}

void Mec16Window::onCheckResponse() { sessions().checkResponse(); }

void Mec16Window::onRead() { tool().startRead(readInfoBox_->isChecked()); }

void Mec16Window::onErase() { tool().startErase(eraseInfoBox_->isChecked()); }

void Mec16Window::onWrite() { tool().startWrite(); }

void Mec16Window::onHelp() { sessions().showHelp(); }

void Mec16Window::onExit() {
    if (tool().operation().idle()) return showLauncherAndHide();
    tool().operation().requestStop();
}

}  // namespace kj
