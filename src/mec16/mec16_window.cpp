#include "mec16/mec16_window.h"

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{mec16::kFamily, makeToolWindow<Mec16Window>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kTextPixels = 13;
constexpr int kGaugePixels = 27;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect place) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(courier(kTextPixels));
    label->setGeometry(place);
    return label;
}

QColor qColour(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }
}  // namespace

Mec16Window::Mec16Window(AppContext& context, QWidget* launcher) : ChipWindow(context, launcher, mec16::kFamily) {
    build({
        .name = "MEC16_Form",
        .caption = QStringLiteral("Чтение и запись MEC16"),
        .buttons =
            {
                {.name = "BitBtn_MEC16",
                 .caption = QStringLiteral("Проверка отклика от MEC16"),
                 .handler = [this] { sessions().checkResponse(); },
                 .place = {16, 16, 369, 49}},
                {.name = "BitBtn_RD_MEC16",
                 .caption = QStringLiteral("Чтение FLASH MEC16 "),
                 .handler = [this] { tool().startRead(readInfoBox_->isChecked()); },
                 .place = {16, 200, 369, 49}},
                {.name = "BitBtn_MEC16_ERASE",
                 .caption = QStringLiteral("Стирание FLASH MEC16"),
                 .handler = [this] { tool().startErase(eraseInfoBox_->isChecked()); },
                 .place = {16, 288, 369, 49}},
                {.name = "BitBtn_MEC16_WRITE",
                 .caption = QStringLiteral("Запись FLASH MEC16"),
                 .does = Does::Write,
                 .place = {16, 384, 369, 49}},
                {.name = "EXIT_MEC16",
                 .caption = QStringLiteral("СТОП или ВЫХОД"),
                 .does = Does::Exit,
                 .place = {16, 464, 185, 49}},
                {.name = "BitBtn_MEC16_HELP",
                 .caption = QStringLiteral("HELP"),
                 .handler = [this] { sessions().showHelp(); },
                 .place = {216, 464, 169, 49}},
            },
        .log = {.name = "Memo_MEC16", .pixelSize = kTextPixels, .place = {408, 16, 489, 497}},
        .gauges = {{.name = "CGauge_MEC16",
                    .maximum = mec16::kGaugeMaxAtStart,
                    .place = {13, 528, 876, 52},
                    .slot = &gauge_}},
        .layout = Layout::Placed,
        .size = {905, 590},
        // Between the indicators and the read's INFO box.
        .jobPlace = {16, 136, 369, 26},
        // The window disables no control while it works: the operation name keeps operations apart.
        .exit = {.stops = true},
    });
    gauge_->setFont(courier(kGaugePixels, true));
    buildIndicators();
    buildCheckBoxes();
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
    setInstructions(log(), std::move(intro));
}

void Mec16Window::showIndicator(const mec16::IndicatorEvent& event) {
    (event.which == mec16::Indicator::BootLock ? bootLockShape_ : writeProtectShape_)
        ->setBrushColor(qColour(event.colour));
}

}  // namespace kj
