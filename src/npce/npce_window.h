// The NPCE288N/388N window: read and write buttons over the core's operations,
// a log that keeps every operation's lines, and the gauge of the current stream.
#pragma once

#include <memory>

#include "gui/chip_window.h"
#include "npce/npce.h"

namespace kj {

class TNPCE_FORM : public ChipWindow {
    Q_OBJECT
public:
    TNPCE_FORM(AppContext& context, QWidget* launcher);

    QPushButton* NPCE_READ = nullptr;
    QPushButton* NPCE_WRITE = nullptr;
    QPushButton* EXIT_NPCE = nullptr;
    QPlainTextEdit* NPCE_Memo = nullptr;
    TCGauge* CGauge_NPCE = nullptr;

    NpceProgrammer& programmer() { return *programmer_; }

private:
    void exitRequested() override { EXIT_NPCEClick(); }
    std::vector<Operation*> operations() override { return {&programmer_->operation()}; }

    void NPCE_READClick();
    void NPCE_WRITEClick();
    void EXIT_NPCEClick();
    void SaveDialog_NPCECanClose();
    void OpenDialog_NPCECanClose();

    std::unique_ptr<NpceProgrammer> programmer_;
};

}  // namespace kj
