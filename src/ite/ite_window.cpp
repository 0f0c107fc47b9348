#include "ite/ite_window.h"

#include <QVBoxLayout>

namespace kj {

namespace ite {
ToolWindow* makeWindow(AppContext& context, QWidget* launcher) { return new TITE_FORM(context, launcher); }
}  // namespace ite

TITE_FORM::TITE_FORM(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("ITE 16_05_2016"), ite::kFamily) {
    setObjectName("TITE_FORM");
    makeButtons({{&ITE_EXIT_BitBtn, "ITE_EXIT_BitBtn", QStringLiteral("Выход EXIT"), [this] { ITE_EXIT_BitBtnClick(); }}});
    auto* layout = new QVBoxLayout(canvas());
    layout->addStretch();
    layout->addWidget(ITE_EXIT_BitBtn);
    resize(640, 480);
}

void TITE_FORM::ITE_EXIT_BitBtnClick() { showLauncherAndHide(); }

}  // namespace kj
