#pragma once

#include "common/tool_window.h"

namespace kj {

class TKeyboard_testing : public ToolWindow {
    Q_OBJECT
public:
    TKeyboard_testing(AppContext& context, QWidget* launcher);

private:
    void EXIT_KB_TESTClick();
    QPushButton* EXIT_KB_TEST = nullptr;
};

}  // namespace kj
