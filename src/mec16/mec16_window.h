// The MEC1609 window: the response check, help, read, erase and write buttons
// over the core's operations, the two protection indicators, and the stop
// button that doubles as the way back to the launcher.
#pragma once

#include <QCheckBox>
#include <QLabel>

#include "gui/chip_window.h"
#include "gui/shape.h"
#include "mec16/mec16.h"

namespace kj {

class Mec16Window : public ChipWindow {
    Q_OBJECT
public:
    Mec16Window(AppContext& context, QWidget* launcher);

private:
    Shape* bootLockShape_ = nullptr;
    QLabel* bootLockLabel_ = nullptr;
    Shape* writeProtectShape_ = nullptr;
    QLabel* writeProtectLabel_ = nullptr;
    QCheckBox* readInfoBox_ = nullptr;
    QCheckBox* eraseInfoBox_ = nullptr;
    QCheckBox* writeInfoBox_ = nullptr;
    Gauge* gauge_ = nullptr;

    void buildIndicators();
    void buildCheckBoxes();
    void onCreate();
    Mec16Sessions& sessions() { return tool().sessions<Mec16Sessions>(); }
    void showIndicator(const mec16::IndicatorEvent& event);
};

}  // namespace kj
