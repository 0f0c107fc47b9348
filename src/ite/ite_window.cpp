#include "ite/ite_window.h"

#include <QVBoxLayout>

namespace kj {

TITE_FORM::TITE_FORM(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("ITE 16_05_2016"), "ITE") {
    setObjectName("TITE_FORM");
    ITE_EXIT_BitBtn = makeButton(this, "ITE_EXIT_BitBtn", QStringLiteral("Выход EXIT"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(ITE_EXIT_BitBtn);
    resize(640, 480);
    connect(ITE_EXIT_BitBtn, &QPushButton::clicked, this, &TITE_FORM::ITE_EXIT_BitBtnClick);
}

void TITE_FORM::ITE_EXIT_BitBtnClick() { showLauncherAndHide(); }

}  // namespace kj
