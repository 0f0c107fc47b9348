// The EDID window: reads the panel EEPROM into a file and writes a file into
// it, with the decoder's summary of the image beside the log.
#pragma once

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "common/tool_window.h"
#include "common/window_frontend.h"
#include "edid/edid.h"

namespace kj {

class TEDID_form : public ToolWindow {
    Q_OBJECT
public:
    TEDID_form(AppContext& context, QWidget* launcher);

    QPushButton* EDID_READ = nullptr;
    QPushButton* EXIT_EDID = nullptr;
    QPushButton* EDID_WRITE = nullptr;
    QPlainTextEdit* EDID_Memo = nullptr;
    // "EDID info": the summary of the image just read or about to be written.
    QGroupBox* EDID_InfoBox = nullptr;
    QPlainTextEdit* EDID_Info = nullptr;

    void EDID_READClick();
    void EDID_WRITEClick();
    void EXIT_EDIDClick();
    void SaveDialog1CanClose();
    void OpenDialog1CanClose();

    // Shown by the question before writing an image whose base block is not sane.
    static QString badBaseBlockQuestion(const EdidInfo& info);
    static constexpr const char* kWriteAsIs = "Write as it is";
    static constexpr const char* kFixAndWrite = "Fix the checksum(s) and write";
    static constexpr const char* kCancelWrite = "Cancel";

private:
    void buildControls();
    void showInfo(const EdidInfo& info);
    EdidWriteChoice askBadBaseBlock(const EdidInfo& info);
    // Both operations run here to their end; the buttons stay off meanwhile so
    // that a nested dialog's event loop cannot start a second one.
    void runOperation(bool (EdidProgrammer::*operation)());

    bool dialogConfirmed_ = false;
    std::unique_ptr<WindowFrontend> frontend_;
    std::unique_ptr<EdidProgrammer> programmer_;
};

}  // namespace kj
