#include "gui/testconnect_window.h"

#include <QVBoxLayout>

#include "operation/connection_test.h"

namespace kj {

TTESTING::TTESTING(AppContext& context) : QWidget(nullptr), bridge_(context.bridges(kConnectionTestFamily.firmware)) {
    setObjectName("TESTING");
    setWindowTitle(QStringLiteral("Test vcom port and device"));
    Test_memo = makeMemo(this, "Test_memo", 16);
    Test_memo->setReadOnly(false);
    Test_memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);  // beside the launcher it may be narrow
    QPalette palette = Test_memo->palette();
    palette.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    Test_memo->setPalette(palette);
    BitBtn1 = makeButton(this, "BitBtn1", QStringLiteral("Test connect"), QColor(0, 0, 0x80));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Test_memo, 1);
    layout->addWidget(BitBtn1);
    resize(700, 320);
    centreOnScreen(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TTESTING::BitBtn1Click);
    frontend_ = std::make_unique<WindowFrontend>(this, Test_memo, std::vector<TCGauge*>{}, context.desktop,
                                                 dialogConfirmed_, WindowFrontend::Hooks{.busy = [this](bool on) {
                                                     BitBtn1->setEnabled(!on);
                                                     on ? setCursor(Qt::BusyCursor) : unsetCursor();
                                                 }});
    test_ = std::make_unique<Operation>(*bridge_, *frontend_, kConnectionTestFamily);
}

// Up to half a second per silent device, on the worker.
void TTESTING::BitBtn1Click() {
    test_->launch([this] { runConnectionTest(*bridge_, *frontend_); });
}

}  // namespace kj
