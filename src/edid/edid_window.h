// The EDID window: reads the panel EEPROM into a file and writes a file into
// it, with the decoder's summary of the image beside the log.
#pragma once

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include "edid/edid.h"
#include "gui/chip_window.h"

namespace kj {

class EdidWindow : public ChipWindow {
    Q_OBJECT
public:
    EdidWindow(AppContext& context, QWidget* launcher);

private:
    QPushButton* readButton_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    // "EDID info": the summary of the image just read or about to be written.
    QGroupBox* infoBox_ = nullptr;
    QPlainTextEdit* info_ = nullptr;

    void onRead();
    void onWrite();
    void leaving() override;
    EdidSessions& sessions() { return tool().sessions<EdidSessions>(); }
    void showInfo(const EdidInfoEvent& event);
    void clearInfo();
    void operationDone() override;

    bool writing_ = false;  // the worker that runs is a write
};

}  // namespace kj
