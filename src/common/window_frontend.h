// A tool window as the core's Frontend: every call is carried out on the
// window's thread, and a worker waits for it, so updates land in the order issued.
#pragma once

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QThread>
#include <QWidget>
#include <functional>

#include "common/desktop.h"
#include "common/frontend.h"
#include "common/gauge.h"

namespace kj {

// Runs `f` on `window`'s thread and returns when it is done.
template <class F>
void onWindowThread(QObject* window, F&& f) {
    if (QThread::currentThread() == window->thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(window, std::function<void()>(std::forward<F>(f)),
                              Qt::BlockingQueuedConnection);
}

// A log window's lines. The text control cannot tell an empty document from one
// holding a single empty line, so the memo keeps its own count of lines: a log
// may start with an empty line, and it must show.
void appendLogLine(QPlainTextEdit* memo, const QString& line);
void clearLogLines(QPlainTextEdit* memo);

class WindowFrontend : public Frontend {
public:
    struct Hooks {
        std::function<void(std::string_view)> started;  // buttons for a running operation
        std::function<void()> ended;                    // buttons back to idle
        std::function<void()> saveCanClose;             // the save dialog's close-confirmation handler
        std::function<void()> openCanClose;             // the open dialog's
        bool* confirmed = nullptr;                      // the window's dialog-confirmed flag
    };

    WindowFrontend(QWidget* window, QPlainTextEdit* memo, TCGauge* gauge, Desktop& desktop, Hooks hooks)
        : window_(window), memo_(memo), gauge_(gauge), desktop_(desktop), hooks_(std::move(hooks)) {}

    void log(std::string_view line) override;
    void clearLog() override;
    void setGaugeColour(Rgb colour) override;
    void setGaugeProgress(int value, int maximum) override;
    std::optional<std::string> chooseFile(const FileDialogSpec& spec) override;
    void errorBox(std::string_view text) override;
    void operationStarted(std::string_view name) override;
    void operationEnded() override;

private:
    QWidget* window_;
    QPlainTextEdit* memo_;
    TCGauge* gauge_;
    Desktop& desktop_;
    Hooks hooks_;
};

}  // namespace kj
