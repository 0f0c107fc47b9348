#include "gui/testconnect_window.h"

#include <QVBoxLayout>

#include "operation/connection_test.h"

namespace kj {

ConnectionTestWindow::ConnectionTestWindow(AppContext& context)
    : QWidget(nullptr), bridge_(context.bridges(kConnectionTestFamily.firmware)) {
    setObjectName("TESTING");
    setWindowTitle(QStringLiteral("Test vcom port and device"));
    log_ = makeMemo(this, "Test_memo", 16);
    log_->setReadOnly(false);
    QPalette palette = log_->palette();
    palette.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    log_->setPalette(palette);
    testButton_ = makeButton(this, "BitBtn1", QStringLiteral("Test connect"), QColor(0, 0, 0x80));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(log_, 1);
    layout->addWidget(testButton_);
    resize(700, 320);
    centreOnScreen(this);
    connect(testButton_, &QPushButton::clicked, this, &ConnectionTestWindow::onTest);
    frontend_ = std::make_unique<WindowFrontend>(this, log_, std::vector<Gauge*>{}, context.desktop, dialogConfirmed_,
                                                 WindowFrontend::Hooks{.busy = [this](bool on) {
                                                     testButton_->setEnabled(!on);
                                                     on ? setCursor(Qt::BusyCursor) : unsetCursor();
                                                 }});
    test_ = std::make_unique<Operation>(*bridge_, *frontend_, kConnectionTestFamily);
}

// Up to half a second per silent device, on the worker. The button is down from the click: the worker's own word of its
// start comes through the window's queue, after a second click could have slipped in.
void ConnectionTestWindow::onTest() {
    if (test_->launch([this] { return runConnectionTest(*bridge_, test_->ui()); })) testButton_->setEnabled(false);
}

}  // namespace kj
