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

class Mec16Window : public ChipWindow {
    Q_OBJECT
public:
    Mec16Window(AppContext& context, QWidget* launcher);

    Mec16Programmer& programmer() { return *programmer_; }

private:
    QPushButton* checkButton_ = nullptr;
    Shape* bootLockShape_ = nullptr;
    QLabel* bootLockLabel_ = nullptr;
    Shape* writeProtectShape_ = nullptr;
    QLabel* writeProtectLabel_ = nullptr;
    QCheckBox* readInfoBox_ = nullptr;
    QPushButton* readButton_ = nullptr;
    QCheckBox* eraseInfoBox_ = nullptr;
    QPushButton* eraseButton_ = nullptr;
    QCheckBox* writeInfoBox_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    Gauge* gauge_ = nullptr;

    void buildIndicators();
    void buildCheckBoxes();
    void onCreate();
    void exitRequested() override { onExit(); }
    std::vector<Operation*> operations() override { return {&programmer_->operation()}; }
    // Runs a handler's operation without freezing the window, only while idle.
    void runOperation(void (Mec16Programmer::*operation)());
    void showIndicator(mec16::Indicator which, Rgb colour);

    void onCheckResponse();
    void onRead();
    void onErase();
    void onWrite();
    void onHelp();
    void onExit();

    std::unique_ptr<Mec16Programmer> programmer_;
};

}  // namespace kj
