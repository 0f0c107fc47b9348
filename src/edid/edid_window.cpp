#include "edid/edid_window.h"

#include <QVBoxLayout>

namespace kj {

TEDID_form::TEDID_form(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("EEPROM LCD read/write VER4.1"), "V41") {
    setObjectName("TEDID_form");
    EXIT_EDID = makeButton(this, "EXIT_EDID", QStringLiteral("EXIT"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(EXIT_EDID);
    resize(640, 480);
    connect(EXIT_EDID, &QPushButton::clicked, this, &TEDID_form::EXIT_EDIDClick);
}

void TEDID_form::EXIT_EDIDClick() { showLauncherAndHide(); }

}  // namespace kj
