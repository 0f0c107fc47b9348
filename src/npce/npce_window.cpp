#include "npce/npce_window.h"

#include <QVBoxLayout>

namespace kj {

namespace npce {
ToolWindow* makeWindow(AppContext& context, QWidget* launcher) { return new TNPCE_FORM(context, launcher); }
}  // namespace npce

TNPCE_FORM::TNPCE_FORM(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("NPCE288N/388N 16_05_2016"), npce::kFamily) {
    setObjectName("TNPCE_FORM");
    makeButtons({{&EXIT_NPCE, "EXIT_NPCE", QStringLiteral("EXIT"), [this] { EXIT_NPCEClick(); }}});
    auto* layout = new QVBoxLayout(canvas());
    layout->addStretch();
    layout->addWidget(EXIT_NPCE);
    resize(640, 480);
}

void TNPCE_FORM::EXIT_NPCEClick() { showLauncherAndHide(); }

}  // namespace kj
