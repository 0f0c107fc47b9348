// The keyboard tester window: a triangle of 496 cells, one per pair of
// connector lines, painted as the scan that KeyboardTester runs reports them;
// the pairs closed so far beside it, and the keyboard profiles that name them.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>
#include <vector>

#include "gui/chip_window.h"
#include "gui/shape.h"
#include "keyboard/keyboard.h"

namespace kj {

class KeyboardWindow : public ChipWindow {
    Q_OBJECT
public:
    KeyboardWindow(AppContext& context, QWidget* launcher);

    // The cell of lines (a, b), found by its name; null when the pair has none.
    Shape* cell(int a, int b) const;
    KeyboardTester& tester() { return *tester_; }
    // Before it is first shown, the rows close up where the screen is too
    // short for the form, so that all 31 stay in sight.
    void setVisible(bool visible) override;

    // How the rows are spaced: the form's pitch and gap after every fifth row,
    // or closer.
    struct Rows {
        int pitch = 24;
        int gap = 8;
    };

private:
    QLabel* columnNumbers_ = nullptr;
    std::vector<std::pair<QLabel*, int>> rowNumbers_;
    QPushButton* exitButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QCheckBox* muteBox_ = nullptr;
    QComboBox* profileBox_ = nullptr;
    QPushButton* learnButton_ = nullptr;
    QWidget* learnBox_ = nullptr;
    QLabel* prompt_ = nullptr;
    QLineEdit* modelName_ = nullptr;
    QWidget* pairsPanel_ = nullptr;
    QListWidget* closedList_ = nullptr;
    QLabel* keysLeft_ = nullptr;

    void onCreate();
    void onStart();
    void onLearn();
    void onFinish();
    void onProfileChosen(int index);

    void createCells();
    void createLabels();
    void createControls();
    QWidget* createProfileRow(QWidget* parent);
    QWidget* createLearnBox(QWidget* parent);
    QWidget* createLegend(QWidget* parent);
    void createPairsPanel();
    void showEvents();
    void placeRows(Rows rows);
    void listProfiles(const QString& selected);
    void nameCells(const KeyboardProfile& profile);
    void showKeysLeft(const std::vector<std::string>& keys);
    void scanning(bool on);
    std::vector<Operation*> operations() override { return {&tester_->operation()}; }
    void stopOperations() override { tester_->requestStop(); }

    int canvasHeight_ = 0;
    bool fitted_ = false;
    bool learning_ = false;
    LoadedProfile profile_;  // the chosen one; none: no model name
    std::unique_ptr<KeyboardTester> tester_;
};

}  // namespace kj
