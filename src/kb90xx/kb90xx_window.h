// The KB9010/9012/9016/9022 window: read and write buttons over the core's
// operations, and the cable help group over the motherboard connection base.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include "gui/chip_window.h"
#include "kb90xx/kb90xx.h"

namespace kj {

class Kb90xxWindow : public ChipWindow {
    Q_OBJECT
public:
    Kb90xxWindow(AppContext& context, QWidget* launcher);

private:
    QGroupBox* cableHelpBox_ = nullptr;
    QComboBox* motherboardChooser_ = nullptr;
    QComboBox* cableChooser_ = nullptr;
    QCheckBox* orientationBox_ = nullptr;
    QLabel* helpLabel_ = nullptr;

    void buildCableHelp();
    void onCreate();

    void onMotherboardPicked();
    void onCablePicked();
    void onOrientationClicked();
    void showCableHelp();
    void motherboardTyped();
    void boardChosen();
    bool motherboardPicked() const;
    void showHelpLine(const QString& text);
    void markHelpStale();

    std::string basePath_;
    bool typedBoard_ = false;  // a board typed and confirmed with Return, not picked from the list
};

}  // namespace kj
