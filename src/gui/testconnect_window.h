// The connection test window: lists the devices, their driver version and
// their answer to the handshake.
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "gui/tool_window.h"
#include "gui/window_frontend.h"
#include "operation/operation.h"

namespace kj {

class ConnectionTestWindow : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionTestWindow(AppContext& context);

private:
    void onTest();

    QPlainTextEdit* log_ = nullptr;
    QPushButton* testButton_ = nullptr;

    std::unique_ptr<Bridge> bridge_;
    bool dialogConfirmed_ = false;
    std::unique_ptr<WindowFrontend> frontend_;
    // Last: destroyed first, it waits for its worker while the rest still stands.
    std::unique_ptr<Operation> test_;
};

}  // namespace kj
