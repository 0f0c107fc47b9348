#include "app/launcher.h"

#include <QApplication>

#include "edid/edid_window.h"
#include "ite/ite_window.h"
#include "kb90xx/kb90xx_window.h"
#include "keyboard/keyboard_window.h"
#include "link/testconnect_window.h"
#include "mec16/mec16_window.h"
#include "npce/npce_window.h"

namespace kj {

namespace {
constexpr int kWidth = 524;
constexpr int kHeight = 638;
constexpr int kToolButtonWidth = 441;
constexpr int kToolButtonHeight = 73;
constexpr int kToolButtonPitch = 85;
constexpr int kTop = 16;
const QColor kScrollBarGrey(0xC8, 0xC8, 0xC8);
}  // namespace

TForm1::TForm1(AppContext& context) : QWidget(nullptr) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Korvel_JIG  VER4.9  16/05/2016"));
    setMinimiseOnly(this);
    setFixedSize(kWidth, kHeight);
    setFont(courier(13));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kScrollBarGrey);
    setPalette(palette);
    placeButtons();
    createTools(context);
    centreOnScreen(this);
}

TForm1::~TForm1() {
    // The launcher owns the windows it created; none has a parent.
    delete EDID_form;
    delete KB901X_forms;
    delete Keyboard_testing;
    delete TESTING;
    delete MEC16_Form;
    delete ITE_FORM;
    delete NPCE_FORM;
}

void TForm1::placeButtons() {
    struct Spec {
        QPushButton** button;
        const char* name;
        const char* caption;
        void (TForm1::*handler)();
    };
    const Spec tools[] = {
        {&EDID, "EDID", "EEPROM lcd (EDID)", &TForm1::EDIDClick},
        {&Keyboard, "Keyboard", "Keyboard testing", &TForm1::KeyboardClick},
        {&KB901X, "KB901X", "KB9010/12/16/22", &TForm1::KB901XClick},
        {&MEC16XX, "MEC16XX", "MEC1609", &TForm1::MEC16XXClick},
        {&ITE_BitBtn1, "ITE_BitBtn1", "ITE_chip", &TForm1::ITE_BitBtn1Click},
        {&BitBtn1, "BitBtn1", "NPCE288N/388N", &TForm1::BitBtn1Click},
    };
    int top = kTop;
    for (const auto& t : tools) {
        *t.button = makeButton(this, t.name, QString::fromUtf8(t.caption), Qt::black, 27, true);
        (*t.button)->setGeometry((kWidth - kToolButtonWidth) / 2, top, kToolButtonWidth, kToolButtonHeight);
        connect(*t.button, &QPushButton::clicked, this, t.handler);
        top += kToolButtonPitch;
    }
    Exit = makeButton(this, "Exit", "Exit", Qt::black, 20, true);
    Exit->setGeometry(16, kHeight - 41 - 16, 185, 41);
    connect(Exit, &QPushButton::clicked, this, &TForm1::ExitClick);
    Test_connect = new QPushButton(" ", this);
    Test_connect->setObjectName("Test_connect");
    Test_connect->setGeometry(kWidth - 97 - 16, kHeight - 25 - 16, 97, 25);
    connect(Test_connect, &QPushButton::clicked, this, &TForm1::Test_connectClick);
}

void TForm1::createTools(AppContext& context) {
    EDID_form = new TEDID_form(context, this);
    KB901X_forms = new TKB901X_forms(context, this);
    Keyboard_testing = new TKeyboard_testing(context, this);
    TESTING = new TTESTING(context);
    MEC16_Form = new TMEC16_Form(context, this);
    ITE_FORM = new TITE_FORM(context, this);
    NPCE_FORM = new TNPCE_FORM(context, this);
}

void TForm1::showTool(QWidget* tool) {
    tool->show();
    hide();
}

void TForm1::EDIDClick() { showTool(EDID_form); }
void TForm1::KeyboardClick() { showTool(Keyboard_testing); }
void TForm1::KB901XClick() { showTool(KB901X_forms); }
void TForm1::MEC16XXClick() { showTool(MEC16_Form); }
void TForm1::ITE_BitBtn1Click() { showTool(ITE_FORM); }
void TForm1::BitBtn1Click() { showTool(NPCE_FORM); }
void TForm1::Test_connectClick() { TESTING->show(); }

void TForm1::ExitClick() {
    close();
    QApplication::quit();
}

}  // namespace kj
