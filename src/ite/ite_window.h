#pragma once

#include "ite/ite.h"
#include "gui/chip_window.h"

namespace kj {

class TITE_FORM : public ChipWindow {
    Q_OBJECT
public:
    TITE_FORM(AppContext& context, QWidget* launcher);

private:
    void exitRequested() override { ITE_EXIT_BitBtnClick(); }
    std::vector<Operation*> operations() override { return {}; }
    void ITE_EXIT_BitBtnClick();
    QPushButton* ITE_EXIT_BitBtn = nullptr;
};

}  // namespace kj
