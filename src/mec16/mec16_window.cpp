#include "mec16/mec16_window.h"

#include <QVBoxLayout>

namespace kj {

TMEC16_Form::TMEC16_Form(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("Чтение и запись MEC16"), "V42") {
    setObjectName("TMEC16_Form");
    EXIT_MEC16 = makeButton(this, "EXIT_MEC16", QStringLiteral("СТОП или ВЫХОД"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(EXIT_MEC16);
    resize(640, 480);
    connect(EXIT_MEC16, &QPushButton::clicked, this, &TMEC16_Form::EXIT_MEC16Click);
}

void TMEC16_Form::EXIT_MEC16Click() { showLauncherAndHide(); }

}  // namespace kj
