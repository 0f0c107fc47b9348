// The EDID window: reads the panel EEPROM into a file and writes a file into
// it, with the decoder's summary of the image beside the log.
#pragma once

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "edid/edid.h"
#include "gui/chip_window.h"

namespace kj {

class EdidWindow : public ChipWindow {
    Q_OBJECT
public:
    EdidWindow(AppContext& context, QWidget* launcher);

    // Shown by the question before writing an image whose base block is not sane.
    static QString badBaseBlockQuestion(const EdidInfo& info);
    static constexpr const char* kWriteAsIs = "Write as it is";
    static constexpr const char* kFixAndWrite = "Fix the checksum(s) and write";
    static constexpr const char* kCancelWrite = "Cancel";

private:
    QPushButton* readButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    // "EDID info": the summary of the image just read or about to be written.
    QGroupBox* infoBox_ = nullptr;
    QPlainTextEdit* info_ = nullptr;

    void onRead();
    void onWrite();
    void onExit();
    void exitRequested() override { onExit(); }
    std::vector<Operation*> operations() override { return {&programmer_->operation()}; }
    void showInfo(const EdidInfo& info, EdidSource source);
    void clearInfo();
    EdidWriteChoice askBadBaseBlock(const EdidInfo& info);
    void operationDone() override;

    bool writing_ = false;  // the worker that runs is a write
    std::unique_ptr<EdidProgrammer> programmer_;
};

}  // namespace kj
