// The ITE window: the motherboard chooser and the fifteen pin selectors over
// the routing, and the APPLY, link check, read and write buttons over the
// core's operations.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <array>

#include "gui/chip_window.h"
#include "ite/ite.h"

namespace kj {

class IteWindow : public ChipWindow {
    Q_OBJECT
public:
    IteWindow(AppContext& context, QWidget* launcher);

    // What the selectors hold now.
    ite::Routing selectedPins() const;

private:
    QComboBox* motherboardChooser_ = nullptr;
    QCheckBox* orientationBox_ = nullptr;
    QGroupBox* routingBox_ = nullptr;
    // "ComboBox1" to "ComboBox15" and their labels, one per row of the signal table.
    std::array<QComboBox*, ite::kSignalCount> pinSelectors_{};
    std::array<QLabel*, ite::kSignalCount> pinLabels_{};
    QPushButton* applyButton_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QPushButton* readButton_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    Gauge* flashGauge_ = nullptr;
    Gauge* pageGauge_ = nullptr;

    void buildRouting();
    QComboBox* makePinSelector(size_t row);
    void onCreate();

    void onMotherboardPicked(int index);
    void onOrientationClicked();
    void onApply();

    void showPins(const ite::Routing& pins);
    // Typed text becomes the entry it names, or the selector goes back to its value.
    void pinTyped(QComboBox* selector);
    void commitTypedPins();
    void operationDone() override;

    IteSessions& sessions() { return tool().sessions<IteSessions>(); }

    bool applying_ = false;  // the worker that runs sends the routing
};

}  // namespace kj
