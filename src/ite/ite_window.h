#pragma once

#include "common/tool_window.h"

namespace kj {

class TITE_FORM : public ToolWindow {
    Q_OBJECT
public:
    TITE_FORM(AppContext& context, QWidget* launcher);

private:
    void ITE_EXIT_BitBtnClick();
    QPushButton* ITE_EXIT_BitBtn = nullptr;
};

}  // namespace kj
