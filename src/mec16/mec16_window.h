#pragma once

#include "mec16/mec16.h"
#include "gui/chip_window.h"

namespace kj {

class TMEC16_Form : public ChipWindow {
    Q_OBJECT
public:
    TMEC16_Form(AppContext& context, QWidget* launcher);

private:
    void exitRequested() override { EXIT_MEC16Click(); }
    std::vector<Operation*> operations() override { return {}; }
    void EXIT_MEC16Click();
    QPushButton* EXIT_MEC16 = nullptr;
};

}  // namespace kj
