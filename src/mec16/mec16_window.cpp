#include "mec16/mec16_window.h"

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{mec16::kFamily, makeToolWindow<TMEC16_Form>};
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

TMEC16_Form::TMEC16_Form(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("Чтение и запись MEC16"), mec16::kFamily) {
    setObjectName("MEC16_Form");
    setCanvasSize(kWidth, kHeight);
    makeButtons({
        {&BitBtn_MEC16, "BitBtn_MEC16", QStringLiteral("Проверка отклика от MEC16"), [this] { BitBtn_MEC16Click(); },
         Qt::black, QRect(16, 16, 369, 49)},
        {&BitBtn_RD_MEC16, "BitBtn_RD_MEC16", QStringLiteral("Чтение FLASH MEC16 "), [this] { BitBtn_RD_MEC16Click(); },
         Qt::black, QRect(16, 200, 369, 49)},
        {&BitBtn_MEC16_ERASE, "BitBtn_MEC16_ERASE", QStringLiteral("Стирание FLASH MEC16"),
         [this] { BitBtn_MEC16_ERASEClick(); }, Qt::black, QRect(16, 288, 369, 49)},
        {&BitBtn_MEC16_WRITE, "BitBtn_MEC16_WRITE", QStringLiteral("Запись FLASH MEC16"),
         [this] { BitBtn_MEC16_WRITEClick(); }, Qt::black, QRect(16, 384, 369, 49)},
        {&EXIT_MEC16, "EXIT_MEC16", QStringLiteral("СТОП или ВЫХОД"), [this] { EXIT_MEC16Click(); }, Qt::black,
         QRect(16, 464, 185, 49)},
        {&BitBtn_MEC16_HELP, "BitBtn_MEC16_HELP", QStringLiteral("HELP"), [this] { BitBtn_MEC16_HELPClick(); },
         Qt::black, QRect(216, 464, 169, 49)},
    });
    buildIndicators();
    buildCheckBoxes();
    Memo_MEC16 = makeLog("Memo_MEC16", kTextPixels, kMemoPlace);
    const auto gauges = makeGauges({{&CGauge_MEC16, "CGauge_MEC16", mec16::kGaugeMaxAtStart, kGaugePlace}});
    CGauge_MEC16->setFont(courier(kGaugePixels, true));
    // The window disables no control while it works: the operation name keeps operations apart.
    attachFrontend(Memo_MEC16, gauges,
                   {.saveCanClose = [this] { SaveDialog_MEC16CanClose(); },
                    .openCanClose = [this] { OpenDialog_MEC16CanClose(); }});
    programmer_ = std::make_unique<Mec16Programmer>(bridge(), frontend());
    programmer_->onIndicator([this](mec16::Indicator which, Rgb colour) {
        QMetaObject::invokeMethod(this, [this, which, colour] { showIndicator(which, colour); });
    });
    FormCreate();
}

void TMEC16_Form::buildIndicators() {
    const struct {
        TShape** shape;
        const char* shapeName;
        QRect shapePlace;
        QLabel** label;
        const char* labelName;
        QString text;
        QRect labelPlace;
    } rows[] = {
        {&Shape_BootLock_MEC, "Shape_BootLock_MEC", QRect(16, 80, 17, 15), &Label_BootLock_MEC, "Label_BootLock_MEC",
         QStringLiteral("Зеленый=Boot_Lock не установлен"), QRect(48, 80, 248, 16)},
        {&Shape_FWP_MEC16, "Shape_FWP_MEC16", QRect(16, 104, 17, 15), &Label_MEC16_FWP, "Label_MEC16_FWP",
         QStringLiteral("Зеленый=запись/стирание разрешено"), QRect(48, 104, 264, 16)},
    };
    for (const auto& row : rows) {
        auto* shape = new TShape(canvas());
        shape->setObjectName(row.shapeName);
        shape->setGeometry(row.shapePlace);
        shape->setBrushColor(Qt::black);
        *row.shape = shape;
        *row.label = makeLabel(canvas(), row.labelName, row.text, row.labelPlace);
    }
}

void TMEC16_Form::buildCheckBoxes() {
    const struct {
        QCheckBox** box;
        const char* name;
        QString text;
        int top;
    } rows[] = {
        {&CheckBox_MEC16_RD, "CheckBox_MEC16_RD", QStringLiteral("INFO область тоже читать в файл"), 176},
        {&CheckBox_erase_mec16, "CheckBox_erase_mec16", QStringLiteral("INFO область тоже стирать"), 264},
        {&CheckBox_write_mec16, "CheckBox_write_mec16", QStringLiteral("INFO область тоже записывать"), 352},
    };
    for (const auto& row : rows) {
        auto* box = new QCheckBox(row.text, canvas());
        box->setObjectName(row.name);
        box->setFont(courier(kTextPixels));
        box->setGeometry(16, row.top, 369, 17);
        *row.box = box;
    }
    // The INFO block cannot be written yet.
    CheckBox_write_mec16->setEnabled(false);
}

void TMEC16_Form::FormCreate() {
    for (std::string_view line : mec16::kIntroLines) frontend().log(line);
}

void TMEC16_Form::showIndicator(mec16::Indicator which, Rgb colour) {
    (which == mec16::Indicator::BootLock ? Shape_BootLock_MEC : Shape_FWP_MEC16)->setBrushColor(qColour(colour));
}

void TMEC16_Form::runOperation(void (Mec16Programmer::*operation)()) { (programmer_.get()->*operation)(); }

void TMEC16_Form::BitBtn_MEC16Click() { runOperation(&Mec16Programmer::checkResponse); }

void TMEC16_Form::BitBtn_RD_MEC16Click() {
    programmer_->setReadInfo(CheckBox_MEC16_RD->isChecked());
    runOperation(&Mec16Programmer::startRead);
}

void TMEC16_Form::BitBtn_MEC16_ERASEClick() {
    programmer_->setEraseInfo(CheckBox_erase_mec16->isChecked());
    runOperation(&Mec16Programmer::startErase);
}

void TMEC16_Form::BitBtn_MEC16_WRITEClick() { runOperation(&Mec16Programmer::startWrite); }

void TMEC16_Form::BitBtn_MEC16_HELPClick() { programmer_->showHelp(); }

void TMEC16_Form::EXIT_MEC16Click() {
    if (programmer_->operation().idle()) return showLauncherAndHide();
    programmer_->requestStop();
}

void TMEC16_Form::SaveDialog_MEC16CanClose() { setDialogConfirmed(); }

void TMEC16_Form::OpenDialog_MEC16CanClose() { setDialogConfirmed(); }

}  // namespace kj
