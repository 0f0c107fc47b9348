#include "gui/window_frontend.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QScrollBar>
#include <QTextCursor>
#include <utility>

#include "gui/tool_window.h"

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

bool logIsEmpty(const QPlainTextEdit* memo) {
    return memo->document()->isEmpty() && memo->property(kLineCount).toInt() == 0;
}

WindowQueue::WindowQueue(QObject* window) : QObject(window) {}

// A worker still waiting for the window is let go.
WindowQueue::~WindowQueue() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        queue_.clear();
    }
    ran_.notify_all();
}

void WindowQueue::post(std::function<void()> f) {
    if (onWindowThread()) {
        drain();
        f();
        return;
    }
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(f));
        wake = !std::exchange(wakeUpPending_, true);
    }
    // By name: the toolkit makes and frees the call itself, and carries nothing of ours.
    if (wake) QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

// A posted function may run an event loop of its own (a modal box): what is
// handed over meanwhile wakes that loop, and is carried out there.
void WindowQueue::drain() {
    {
        std::lock_guard lock(mutex_);
        wakeUpPending_ = false;
    }
    for (;;) {
        std::function<void()> f;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            f = std::move(queue_.front());
            queue_.pop_front();
        }
        f();
    }
}

void WindowQueue::wait(const std::function<void()>& f) {
    if (onWindowThread()) return post(f);
    bool done = false;
    post([this, &f, &done] {
        f();
        {
            std::lock_guard lock(mutex_);
            done = true;
        }
        ran_.notify_all();
    });
    std::unique_lock lock(mutex_);
    ran_.wait(lock, [&] { return done || closed_; });
}

WindowFrontend::WindowFrontend(QWidget* window, QPlainTextEdit* memo, std::vector<Gauge*> gauges, Desktop& desktop,
                               bool& confirmed, Hooks hooks)
    : window_(window),
      queue_(new WindowQueue(window)),
      memo_(memo),
      gauges_(std::move(gauges)),
      desktop_(desktop),
      confirmed_(confirmed),
      hooks_(std::move(hooks)) {}

void WindowFrontend::log(std::string_view line) {
    post([memo = memo_, text = fromUtf8(line)] { appendLogLine(memo, text); });
}

void WindowFrontend::setJob(std::string job) {
    std::lock_guard lock(jobMutex_);
    job_ = std::move(job);
}

std::string WindowFrontend::job() const {
    std::lock_guard lock(jobMutex_);
    return job_;
}

void WindowFrontend::clearLog() {
    post([memo = memo_] { clearLogLines(memo); });
}

void WindowFrontend::setGaugeColour(Rgb colour, int gauge) {
    if (gauge >= static_cast<int>(gauges_.size())) return;
    post([g = gauges_[static_cast<size_t>(gauge)], colour] { g->setForeColor(QColor(colour.r, colour.g, colour.b)); });
}

// One update in flight per gauge; it shows the latest value when it runs.
void WindowFrontend::setGaugeProgress(int value, int maximum, int gauge) {
    if (gauge >= static_cast<int>(gauges_.size()) || gauge >= kMaxGauges) return;
    auto& progress = progress_[static_cast<size_t>(gauge)];
    progress.value = value;
    if (progress.posted.exchange(true)) return;
    post([g = gauges_[static_cast<size_t>(gauge)], &progress, maximum] {
        progress.posted = false;
        if (g->maxValue() != maximum) g->setMaxValue(maximum);
        g->setProgress(progress.value.load());
    });
}

// Each dialog opens where the last one was confirmed.
std::optional<std::string> WindowFrontend::chooseFile(const FileDialogSpec& given) {
    std::optional<std::string> chosen;
    wait([&] {
        FileDialogSpec spec = given;
        const bool save = spec.kind == FileDialogSpec::Kind::Save;
        if (spec.startFolder.empty()) spec.startFolder = lastFolder_;
        if (!save) spec.places.insert(spec.places.end(), places_.begin(), places_.end());
        const auto& canClose = save ? hooks_.saveCanClose : hooks_.openCanClose;
        confirmed_ = false;
        const auto path = desktop_.runFileDialog(window_, spec, canClose);
        // The confirmation handler's record counts, not the dialog's own result.
        if (confirmed_ && path) {
            chosen = path->toStdString();
            lastFolder_ = QFileInfo(*path).absolutePath().toStdString();
        }
        window_->repaint();
    });
    return chosen;
}

void WindowFrontend::errorBox(std::string_view text) {
    post([this, message = fromUtf8(text)] { desktop_.errorBox(window_, message); });
}

bool WindowFrontend::confirm(std::string_view question, Ask) {
    bool yes = false;
    wait([&] { yes = desktop_.question(window_, fromUtf8(question)); });
    return yes;
}

std::optional<size_t> WindowFrontend::choose(std::string_view question, const std::vector<std::string>& answers) {
    std::optional<size_t> chosen;
    wait([&] {
        QStringList captions;
        for (const auto& answer : answers) captions << fromUtf8(answer);
        chosen = desktop_.choose(window_, fromUtf8(question), captions);
    });
    return chosen;
}

void WindowFrontend::show(const std::any& event) {
    if (hooks_.event) post([this, event] { hooks_.event(event); });
}

void WindowFrontend::phase(Phase phase) {
    if (hooks_.phase) post([this, phase] { hooks_.phase(phase); });
}

void WindowFrontend::operationStarted(std::string_view name) {
    if (hooks_.started) post([this, name = std::string(name)] { hooks_.started(name); });
}

void WindowFrontend::operationEnded() {
    if (hooks_.ended) post([this] { hooks_.ended(); });
}

void WindowFrontend::showVerdict(const Verdict& verdict) {
    if (hooks_.verdict) post([this, verdict] { hooks_.verdict(verdict); });
}

void WindowFrontend::busy(bool on) {
    if (hooks_.busy) post([this, on] { hooks_.busy(on); });
}

}  // namespace kj
