// The NPCE288N/388N window: read and write buttons over the core's operations,
// a log that keeps every operation's lines, and the gauge of the current stream.
#pragma once

#include <memory>

#include "gui/chip_window.h"
#include "npce/npce.h"

namespace kj {

class NpceWindow : public ChipWindow {
    Q_OBJECT
public:
    NpceWindow(AppContext& context, QWidget* launcher);

private:
    QPushButton* readButton_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    Gauge* gauge_ = nullptr;

    void exitRequested() override { onExit(); }

    void onRead();
    void onWrite();
    void onExit();
};

}  // namespace kj
