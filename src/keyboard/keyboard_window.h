// The keyboard tester window: a triangle of 496 cells, one per pair of
// connector lines, toggled by the scan that KeyboardTester runs.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include <atomic>

#include "gui/chip_window.h"
#include "gui/shape.h"
#include "keyboard/keyboard.h"

namespace kj {

class TKeyboard_testing : public ChipWindow, private KeyboardPanel, private ScanTimer {
    Q_OBJECT
public:
    TKeyboard_testing(AppContext& context, QWidget* launcher);

    QLabel* Label_keybord = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QPushButton* EXIT_KB_TEST = nullptr;
    QPushButton* START_SCAN = nullptr;
    QPushButton* Clear = nullptr;
    QCheckBox* Buzzer_box = nullptr;
    QPlainTextEdit* Memo_keyboard = nullptr;
    QTimer* Timer_keyboard_scan = nullptr;

    void FormCreate();
    void START_SCANClick();
    void EXIT_KB_TESTClick();
    void ClearClick();
    void Timer_keyboard_scanTimer();

    // The cell of lines (a, b), found by its name; null when the pair has none.
    TShape* cell(int a, int b) const;
    KeyboardTester& tester() { return *tester_; }

private:
    void createCells();
    void createLabels();
    void createControls();
    QWidget* createLegend(QWidget* parent);
    void exitRequested() override { EXIT_KB_TESTClick(); }
    std::vector<Operation*> operations() override { return {&tester_->operation()}; }

    void toggleCell(int a, int b) override;
    bool soundMuted() override { return muted_.load(); }
    void enable() override;
    void disable() override;

    std::atomic<bool> muted_{false};  // the mute box, as the worker may read it
    ClosedPairs closed_;              // in this scan; the window thread's alone
    std::unique_ptr<KeyboardTester> tester_;
};

}  // namespace kj
