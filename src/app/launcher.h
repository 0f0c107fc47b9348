// The launcher: one large button per tool. Creates every window at start-up,
// hidden, in a fixed order, and moves between them.
#pragma once

#include <QPushButton>
#include <QWidget>

#include "common/tool_window.h"

namespace kj {

class TEDID_form;
class TKB901X_forms;
class TKeyboard_testing;
class TTESTING;
class TMEC16_Form;
class TITE_FORM;
class TNPCE_FORM;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(AppContext& context);
    ~TForm1() override;

    // The other windows, created hidden right after the launcher.
    TEDID_form* EDID_form = nullptr;
    TKB901X_forms* KB901X_forms = nullptr;
    TKeyboard_testing* Keyboard_testing = nullptr;
    TTESTING* TESTING = nullptr;
    TMEC16_Form* MEC16_Form = nullptr;
    TITE_FORM* ITE_FORM = nullptr;
    TNPCE_FORM* NPCE_FORM = nullptr;

    QPushButton* EDID = nullptr;
    QPushButton* Keyboard = nullptr;
    QPushButton* KB901X = nullptr;
    QPushButton* MEC16XX = nullptr;
    QPushButton* ITE_BitBtn1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* Exit = nullptr;
    QPushButton* Test_connect = nullptr;

    void EDIDClick();
    void KeyboardClick();
    void KB901XClick();
    void MEC16XXClick();
    void ITE_BitBtn1Click();
    void BitBtn1Click();
    void ExitClick();
    void Test_connectClick();

private:
    void createTools(AppContext& context);
    void placeButtons();
    // The tool first, then the launcher.
    void showTool(QWidget* tool);
};

}  // namespace kj
