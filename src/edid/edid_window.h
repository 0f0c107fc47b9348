#pragma once

#include "common/tool_window.h"

namespace kj {

class TEDID_form : public ToolWindow {
    Q_OBJECT
public:
    TEDID_form(AppContext& context, QWidget* launcher);

private:
    void EXIT_EDIDClick();
    QPushButton* EXIT_EDID = nullptr;
};

}  // namespace kj
