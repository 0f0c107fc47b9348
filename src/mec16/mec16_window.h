#pragma once

#include "common/tool_window.h"

namespace kj {

class TMEC16_Form : public ToolWindow {
    Q_OBJECT
public:
    TMEC16_Form(AppContext& context, QWidget* launcher);

private:
    void EXIT_MEC16Click();
    QPushButton* EXIT_MEC16 = nullptr;
};

}  // namespace kj
