#include "mec16/mec16_window.h"

#include <QVBoxLayout>

namespace kj {

namespace mec16 {
ToolWindow* makeWindow(AppContext& context, QWidget* launcher) { return new TMEC16_Form(context, launcher); }
}  // namespace mec16

TMEC16_Form::TMEC16_Form(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("Чтение и запись MEC16"), mec16::kFamily) {
    setObjectName("TMEC16_Form");
    makeButtons({{&EXIT_MEC16, "EXIT_MEC16", QStringLiteral("СТОП или ВЫХОД"), [this] { EXIT_MEC16Click(); }}});
    auto* layout = new QVBoxLayout(canvas());
    layout->addStretch();
    layout->addWidget(EXIT_MEC16);
    resize(640, 480);
}

void TMEC16_Form::EXIT_MEC16Click() { showLauncherAndHide(); }

}  // namespace kj
