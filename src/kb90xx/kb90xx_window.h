// The KB9010/9012/9016/9022 window: read and write buttons over the core's
// operations, and the cable help group over the motherboard connection base.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <memory>

#include "gui/chip_window.h"
#include "kb90xx/kb90xx.h"

namespace kj {

class TKB901X_forms : public ChipWindow {
    Q_OBJECT
public:
    TKB901X_forms(AppContext& context, QWidget* launcher);

    QPushButton* KB901X_READ = nullptr;
    QPushButton* KB901X_WRITE = nullptr;
    QPushButton* EXIT_KB901X = nullptr;
    QPlainTextEdit* KB901X_Memo = nullptr;
    TCGauge* CGauge_KB901X = nullptr;

    QGroupBox* GroupBox1 = nullptr;
    QComboBox* ComboBox_KB901X = nullptr;
    QComboBox* ComboBox_KB901X_FFC = nullptr;
    QCheckBox* CheckBox_KB901X = nullptr;
    QLabel* Label_result = nullptr;

    Kb90xxProgrammer& programmer() { return *programmer_; }

private:
    void buildCableHelp();
    void FormCreate();
    void exitRequested() override { EXIT_KB901XClick(); }
    std::vector<Operation*> operations() override { return {&programmer_->operation()}; }

    void KB901X_READClick();
    void KB901X_WRITEClick();
    void EXIT_KB901XClick();
    void SaveDialog_KB90CanClose();
    void OpenDialog_KB90CanClose();

    void ComboBox_KB901XSelect();
    void ComboBox_KB901X_FFCSelect();
    void CheckBox_KB901XClick();
    void ShowCableHelp_KB90();
    void motherboardTyped();
    void boardChosen();
    bool motherboardPicked() const;
    void showHelpLine(const QString& text);
    void markHelpStale();

    std::string basePath_;
    bool typedBoard_ = false;  // a board typed and confirmed with Return, not picked from the list
    std::unique_ptr<Kb90xxProgrammer> programmer_;
};

}  // namespace kj
