#include "gui/testconnect_window.h"

#include <QVBoxLayout>

#include "gui/busy.h"
#include "gui/window_frontend.h"
#include "link/connection_test.h"

namespace kj {

TTESTING::TTESTING(AppContext& context) : QWidget(nullptr), bridge_(context.bridges("V41")) {
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
}

// Up to half a second per silent device: the window keeps painting meanwhile.
void TTESTING::BitBtn1Click() {
    runWhileBusy([this] { runConnectionTest(*bridge_, *this); });
}

void TTESTING::log(std::string_view line) {
    QMetaObject::invokeMethod(this, [this, text = fromUtf8(line)] { appendLogLine(Test_memo, text); });
}

void TTESTING::clearLog() {
    QMetaObject::invokeMethod(this, [this] { clearLogLines(Test_memo); });
}

}  // namespace kj
