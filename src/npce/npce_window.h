#pragma once

#include "common/tool_window.h"

namespace kj {

class TNPCE_FORM : public ToolWindow {
    Q_OBJECT
public:
    TNPCE_FORM(AppContext& context, QWidget* launcher);

private:
    void EXIT_NPCEClick();
    QPushButton* EXIT_NPCE = nullptr;
};

}  // namespace kj
