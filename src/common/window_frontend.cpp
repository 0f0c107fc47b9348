#include "common/window_frontend.h"

#include <QScrollBar>

namespace kj {

void WindowFrontend::log(std::string_view line) {
    const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    onWindowThread(window_, [&] {
        memo_->appendPlainText(text);
        memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
    });
}

void WindowFrontend::clearLog() {
    onWindowThread(window_, [&] { memo_->clear(); });
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
