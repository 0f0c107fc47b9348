#include "kb90xx/kb90xx_window.h"

#include <QVBoxLayout>

namespace kj {

TKB901X_forms::TKB901X_forms(AppContext& context, QWidget* launcher)
    : ToolWindow(context, launcher, QStringLiteral("KB9010/9012/9016/9022  programming VER4.1"), "V41") {
    setObjectName("TKB901X_forms");
    EXIT_KB901X = makeButton(this, "EXIT_KB901X", QStringLiteral("EXIT"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(EXIT_KB901X);
    resize(640, 480);
    connect(EXIT_KB901X, &QPushButton::clicked, this, &TKB901X_forms::EXIT_KB901XClick);
}

void TKB901X_forms::EXIT_KB901XClick() { showLauncherAndHide(); }

}  // namespace kj
