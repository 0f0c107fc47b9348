#include "common/window_frontend.h"

#include <QScrollBar>
#include <QTextCursor>

namespace kj {

namespace {
constexpr char kLineCount[] = "kjLogLines";
}

void appendLogLine(QPlainTextEdit* memo, const QString& line) {
    int lines = memo->property(kLineCount).toInt();
    if (!memo->document()->isEmpty() && lines == 0) lines = 1;
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    if (lines > 0) cursor.insertBlock();
    cursor.insertText(line);
    memo->setProperty(kLineCount, lines + 1);
    memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

void clearLogLines(QPlainTextEdit* memo) {
    memo->clear();
    memo->setProperty(kLineCount, 0);
}

void WindowFrontend::log(std::string_view line) {
    const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    onWindowThread(window_, [&] { appendLogLine(memo_, text); });
}

void WindowFrontend::clearLog() {
    onWindowThread(window_, [&] { clearLogLines(memo_); });
}

void WindowFrontend::setGaugeColour(Rgb colour) {
    if (!gauge_) return;
    onWindowThread(window_, [&] { gauge_->setForeColor(QColor(colour.r, colour.g, colour.b)); });
}

void WindowFrontend::setGaugeProgress(int value, int) {
    if (!gauge_) return;
    onWindowThread(window_, [&] { gauge_->setProgress(value); });
}

std::optional<std::string> WindowFrontend::chooseFile(const FileDialogSpec& spec) {
    std::optional<std::string> chosen;
    onWindowThread(window_, [&] {
        const bool save = spec.kind == FileDialogSpec::Kind::Save;
        const auto& canClose = save ? hooks_.saveCanClose : hooks_.openCanClose;
        *hooks_.confirmed = false;
        const auto path = desktop_.runFileDialog(window_, spec, canClose);
        // The confirmation handler's record counts, not the dialog's own result.
        if (*hooks_.confirmed && path) chosen = path->toStdString();
        window_->repaint();
    });
    return chosen;
}

void WindowFrontend::errorBox(std::string_view text) {
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    onWindowThread(window_, [&] { desktop_.errorBox(window_, message); });
}

void WindowFrontend::operationStarted(std::string_view name) {
    if (hooks_.started) onWindowThread(window_, [&] { hooks_.started(name); });
}

void WindowFrontend::operationEnded() {
    if (hooks_.ended) onWindowThread(window_, [&] { hooks_.ended(); });
}

}  // namespace kj
