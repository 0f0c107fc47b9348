// The MEC1609 window: the response check, help, read, erase and write buttons
// over the core's operations, the two protection indicators, and the stop
// button that doubles as the way back to the launcher.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <memory>

#include "gui/chip_window.h"
#include "gui/shape.h"
#include "mec16/mec16.h"

namespace kj {

class TMEC16_Form : public ChipWindow {
    Q_OBJECT
public:
    TMEC16_Form(AppContext& context, QWidget* launcher);

    QPushButton* BitBtn_MEC16 = nullptr;
    TShape* Shape_BootLock_MEC = nullptr;
    QLabel* Label_BootLock_MEC = nullptr;
    TShape* Shape_FWP_MEC16 = nullptr;
    QLabel* Label_MEC16_FWP = nullptr;
    QCheckBox* CheckBox_MEC16_RD = nullptr;
    QPushButton* BitBtn_RD_MEC16 = nullptr;
    QCheckBox* CheckBox_erase_mec16 = nullptr;
    QPushButton* BitBtn_MEC16_ERASE = nullptr;
    QCheckBox* CheckBox_write_mec16 = nullptr;
    QPushButton* BitBtn_MEC16_WRITE = nullptr;
    QPushButton* EXIT_MEC16 = nullptr;
    QPushButton* BitBtn_MEC16_HELP = nullptr;
    QPlainTextEdit* Memo_MEC16 = nullptr;
    TCGauge* CGauge_MEC16 = nullptr;

    Mec16Programmer& programmer() { return *programmer_; }

private:
    void buildIndicators();
    void buildCheckBoxes();
    void FormCreate();
    void exitRequested() override { EXIT_MEC16Click(); }
    std::vector<Operation*> operations() override { return {&programmer_->operation()}; }
    // Runs a handler's operation without freezing the window, only while idle.
    void runOperation(void (Mec16Programmer::*operation)());
    void showIndicator(mec16::Indicator which, Rgb colour);

    void BitBtn_MEC16Click();
    void BitBtn_RD_MEC16Click();
    void BitBtn_MEC16_ERASEClick();
    void BitBtn_MEC16_WRITEClick();
    void BitBtn_MEC16_HELPClick();
    void EXIT_MEC16Click();
    void SaveDialog_MEC16CanClose();
    void OpenDialog_MEC16CanClose();

    std::unique_ptr<Mec16Programmer> programmer_;
};

}  // namespace kj
