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
    Mec16Sessions& sessions() { return tool().sessions<Mec16Sessions>(); }
    void showIndicator(const mec16::IndicatorEvent& event);

    void onCheckResponse();
    void onRead();
    void onErase();
    void onWrite();
    void onHelp();
    void onExit();
};

}  // namespace kj
