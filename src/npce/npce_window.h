#pragma once

#include "npce/npce.h"
#include "gui/chip_window.h"

namespace kj {

class TNPCE_FORM : public ChipWindow {
    Q_OBJECT
public:
    TNPCE_FORM(AppContext& context, QWidget* launcher);

private:
    void exitRequested() override { EXIT_NPCEClick(); }
    std::vector<Operation*> operations() override { return {}; }
    void EXIT_NPCEClick();
    QPushButton* EXIT_NPCE = nullptr;
};

}  // namespace kj
