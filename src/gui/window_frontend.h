// A tool window as the core's Frontend. Updates are carried out on the window's
// thread in the order issued, without making a worker wait; progress is
// coalesced, so that an operation may report it per byte. Only the calls that
// return the user's answer (file dialogs, questions) wait for the window.
#pragma once

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QThread>
#include <QWidget>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "common/frontend.h"
#include "gui/desktop.h"
#include "gui/gauge.h"

namespace kj {

// A log window's lines. The text control cannot tell an empty document from one
// holding a single empty line, so the memo keeps its own count of lines: a log
// may start with an empty line, and it must show.
void appendLogLine(QPlainTextEdit* memo, const QString& line);
void clearLogLines(QPlainTextEdit* memo);
bool logIsEmpty(const QPlainTextEdit* memo);

// What workers hand to a window's thread, carried out there in the order
// handed over. The queue and its lock are the program's own; the toolkit only
// carries the wake-up. So the hand-over is ordered by a lock that
// ThreadSanitizer sees, where the toolkit's own, uninstrumented, it cannot.
class WindowQueue : public QObject {
    Q_OBJECT
public:
    explicit WindowQueue(QObject* window);
    ~WindowQueue() override;
    // Runs `f` on the window's thread: at once there, after what was handed over before.
    void post(std::function<void()> f);
    // Runs `f` on the window's thread and waits for it; returns at once when
    // the window goes first.
    void wait(const std::function<void()>& f);
    Q_INVOKABLE void drain();

private:
    bool onWindowThread() const { return QThread::currentThread() == thread(); }

    std::mutex mutex_;
    std::condition_variable ran_;
    std::deque<std::function<void()>> queue_;
    bool wakeUpPending_ = false;
    bool closed_ = false;
};

class WindowFrontend : public Frontend {
public:
    struct Hooks {
        std::function<void(std::string_view)> started{};  // buttons for a running operation
        std::function<void()> ended{};                    // buttons back to idle
        std::function<void(bool)> busy{};                 // a worker runs, or has ended
        std::function<void(const Verdict&)> verdict{};    // how an image operation ended
        std::function<void(const std::any&)> event{};     // a family's own event for its own controls
        std::function<void(Phase)> phase{};               // an image operation's next phase
        std::function<void()> saveCanClose{};             // the save dialog's close-confirmation handler
        std::function<void()> openCanClose{};             // the open dialog's
    };

    // `confirmed` is the window's dialog-confirmed flag, set by the handlers above.
    WindowFrontend(QWidget* window, QPlainTextEdit* memo, std::vector<Gauge*> gauges, Desktop& desktop, bool& confirmed,
                   Hooks hooks);

    void log(std::string_view line) override;
    void clearLog() override;
    void setGaugeColour(Rgb colour, int gauge = 0) override;
    void setGaugeProgress(int value, int maximum, int gauge = 0) override;
    std::optional<std::string> chooseFile(const FileDialogSpec& spec) override;
    void errorBox(std::string_view text) override;
    bool confirm(std::string_view question, Ask about) override;
    std::optional<size_t> choose(std::string_view question, const std::vector<std::string>& answers) override;
    void show(const std::any& event) override;
    void phase(Phase phase) override;
    void operationStarted(std::string_view name) override;
    void operationEnded() override;
    void busy(bool on) override;
    void showVerdict(const Verdict& verdict) override;
    // The board or job the user works on, from any thread.
    void setJob(std::string job);
    std::string job() const override;
    // Folders an open dialog offers beside its files; on the window thread.
    void setPlaces(std::vector<std::string> places) { places_ = std::move(places); }

    void post(std::function<void()> f) { queue_->post(std::move(f)); }
    void wait(const std::function<void()>& f) { queue_->wait(f); }

private:
    static constexpr int kMaxGauges = 2;
    struct Progress {
        std::atomic<int> value{0};
        std::atomic<bool> posted{false};
    };
    QWidget* window_;
    WindowQueue* queue_;  // the window's child
    QPlainTextEdit* memo_;
    std::vector<Gauge*> gauges_;
    Desktop& desktop_;
    bool& confirmed_;
    Hooks hooks_;
    mutable std::mutex jobMutex_;
    std::string job_;
    // The window thread's: where the last file was chosen, and what open dialogs offer.
    std::string lastFolder_;
    std::vector<std::string> places_;
    std::array<Progress, kMaxGauges> progress_;
};

}  // namespace kj
