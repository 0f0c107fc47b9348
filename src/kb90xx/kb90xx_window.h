#pragma once

#include "common/tool_window.h"

namespace kj {

class TKB901X_forms : public ToolWindow {
    Q_OBJECT
public:
    TKB901X_forms(AppContext& context, QWidget* launcher);

private:
    void EXIT_KB901XClick();
    QPushButton* EXIT_KB901X = nullptr;
};

}  // namespace kj
