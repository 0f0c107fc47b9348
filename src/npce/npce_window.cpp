#include "npce/npce_window.h"

#include <QVBoxLayout>

namespace kj {

TNPCE_FORM::TNPCE_FORM(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("NPCE288N/388N 16_05_2016"), "NPCE") {
    setObjectName("TNPCE_FORM");
    EXIT_NPCE = makeButton(this, "EXIT_NPCE", QStringLiteral("EXIT"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(EXIT_NPCE);
    resize(640, 480);
    connect(EXIT_NPCE, &QPushButton::clicked, this, &TNPCE_FORM::EXIT_NPCEClick);
}

void TNPCE_FORM::EXIT_NPCEClick() { showLauncherAndHide(); }

}  // namespace kj
