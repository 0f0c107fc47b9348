// The ITE window: the motherboard chooser and the fifteen pin selectors over
// the routing, and the APPLY, link check, read and write buttons over the
// core's operations.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <array>
#include <functional>
#include <memory>

#include "gui/chip_window.h"
#include "ite/ite.h"

namespace kj {

class TITE_FORM : public ChipWindow {
    Q_OBJECT
public:
    TITE_FORM(AppContext& context, QWidget* launcher);

    QComboBox* ITE_ComboBox_MB_SWITCH = nullptr;
    QCheckBox* ITE_CheckBox = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    // ComboBox1 to ComboBox15 and their labels, one per row of the signal table.
    std::array<QComboBox*, ite::kSignalCount> ComboBox{};
    std::array<QLabel*, ite::kSignalCount> Label{};
    QPushButton* ITE_SETUP_BitBtn = nullptr;
    QPushButton* ITE_CHECK_CON_BitBtn = nullptr;
    QPushButton* ITE_READ_BitBtn = nullptr;
    QPushButton* ITE_WRITE_BitBtn = nullptr;
    QPushButton* ITE_EXIT_BitBtn = nullptr;
    QPlainTextEdit* ITE_Memo1 = nullptr;
    TCGauge* ITE_CGauge1 = nullptr;
    TCGauge* SPEED_ITE_CGauge = nullptr;

    IteProgrammer& programmer() { return *programmer_; }
    // What the selectors hold now.
    ite::Routing selectedPins() const;

private:
    void buildRouting();
    QComboBox* makePinSelector(size_t row);
    void FormCreate();
    void exitRequested() override { ITE_EXIT_BitBtnClick(); }
    std::vector<Operation*> operations() override { return {&programmer_->operation()}; }

    void ITE_ComboBox_MB_SWITCHSelect(int index);
    void ITE_CheckBoxClick();
    void ITE_SETUP_BitBtnClick();
    void ITE_CHECK_CON_BitBtnClick();
    void ITE_READ_BitBtnClick();
    void ITE_WRITE_BitBtnClick();
    void ITE_EXIT_BitBtnClick();
    void ITE_SaveDialogCanClose();
    void ITE_OpenDialogCanClose();

    void showPins(const ite::Routing& pins);
    // Typed text becomes the entry it names, or the selector goes back to its value.
    void pinTyped(QComboBox* selector);
    void commitTypedPins();
    void operationDone() override;

    bool applying_ = false;  // the worker that runs sends the routing
    std::unique_ptr<IteProgrammer> programmer_;
};

}  // namespace kj
