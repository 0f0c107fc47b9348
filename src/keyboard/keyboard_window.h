// The keyboard tester window: a triangle of 496 cells, one per pair of
// connector lines, toggled by the scan that KeyboardTester runs.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include <atomic>

#include "gui/chip_window.h"
#include "gui/shape.h"
#include "keyboard/keyboard.h"

namespace kj {

class KeyboardWindow : public ChipWindow, private KeyboardPanel {
    Q_OBJECT
public:
    KeyboardWindow(AppContext& context, QWidget* launcher);

    // The cell of lines (a, b), found by its name; null when the pair has none.
    Shape* cell(int a, int b) const;
    KeyboardTester& tester() { return *tester_; }

private:
    QLabel* columnNumbers_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QCheckBox* muteBox_ = nullptr;
    QPlainTextEdit* log_ = nullptr;

    void onCreate();
    void onStart();
    void onExit();
    void onClear();

    void createCells();
    void createLabels();
    void createControls();
    QWidget* createLegend(QWidget* parent);
    void exitRequested() override { onExit(); }
    std::vector<Operation*> operations() override { return {&tester_->operation()}; }

    void toggleCell(int a, int b) override;
    bool soundMuted() override { return muted_.load(); }

    std::atomic<bool> muted_{false};  // the mute box, as the worker may read it
    ClosedPairs closed_;              // in this scan; the window thread's alone
    std::unique_ptr<KeyboardTester> tester_;
};

}  // namespace kj
