// The connection test window: lists the devices, their driver version and
// their answer to the handshake.
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "common/frontend.h"
#include "gui/tool_window.h"

namespace kj {

class TTESTING : public QWidget, private LogSink {
    Q_OBJECT
public:
    explicit TTESTING(AppContext& context);
    QPlainTextEdit* Test_memo = nullptr;
    QPushButton* BitBtn1 = nullptr;
    void BitBtn1Click();

private:
    void log(std::string_view line) override;
    void clearLog() override;
    std::unique_ptr<Bridge> bridge_;
};

}  // namespace kj
