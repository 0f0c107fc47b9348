// The window of a chip family: a log, its gauges and its buttons built from
// tables, the window front end its operations report through, the
// dialog-confirmed flag, and the way a quit reaches a running operation.
#pragma once

#include <QBoxLayout>
#include <QLabel>
#include <QRect>
#include <any>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <typeindex>
#include <vector>

#include "gui/gauge.h"
#include "gui/tool_window.h"
#include "gui/window_frontend.h"
#include "operation/family.h"
#include "operation/image_tool.h"
#include "operation/operation.h"

namespace kj {

class ChipWindow : public ToolWindow {
    Q_OBJECT
public:
    ChipWindow(AppContext& context, QWidget* launcher, const QString& caption, const Family& family);
    void abortOperations() override;
    // Each time it is shown the window takes the settings as they stand.
    void setVisible(bool visible) override;
    // Some operation of the window runs on its worker.
    bool busy();
    // The family's image tool; only for a family that moves an image.
    ImageTool& tool() { return *tool_; }

protected:
    // The read and write buttons' captions, alike in every chip window.
    static inline const QColor kReadColour{0, 0x80, 0};
    static inline const QColor kWriteColour{0xC0, 0, 0};

    struct ButtonSpec {
        QPushButton** slot;
        const char* name;
        QString caption;
        std::function<void()> handler;
        QColor colour = Qt::black;
        QRect place = {};  // empty: the window lays it out
        int pixelSize = 16;
    };
    struct GaugeSpec {
        Gauge** slot;
        const char* name;
        int maximum;
        QRect place = {};
        QColor colour = Qt::black;
    };

    void makeButtons(std::initializer_list<ButtonSpec> buttons);
    QPlainTextEdit* makeLog(const char* name, int pixelSize, QRect place = {});
    std::vector<Gauge*> makeGauges(std::initializer_list<GaugeSpec> gauges);
    // The log over the gauges over a row of buttons, `exit` alone at its right;
    // `top`, when given, above them all.
    void layOut(QWidget* top, QPlainTextEdit* log, const std::vector<Gauge*>& gauges,
                std::initializer_list<QPushButton*> buttons, QPushButton* exit);

    // Once the controls exist: the front end that the operations report through,
    // and for a family that moves an image its tool, with the net the settings
    // ask for, the verdict over the log's corner, and the log's menu with the
    // settings and the verify action. Its file dialogs' close confirmation sets
    // the dialog-confirmed flag.
    void attachFrontend(QPlainTextEdit* log, std::vector<Gauge*> gauges, WindowFrontend::Hooks hooks = {});
    // `hooks` with the buttons made above disabled while an action runs, but
    // the starter that was clicked for it (a second click is ignored while
    // busy), and all enabled again at its end. An action that no starter began
    // (the log menu's verify) leaves none enabled.
    WindowFrontend::Hooks lockingButtons(std::vector<QPushButton*> starters, WindowFrontend::Hooks hooks = {});
    Frontend& frontend() { return *frontend_; }
    // On the window thread, in order with the lines: what the family shows of
    // its own, by the event's type.
    template <class Event>
    void onEvent(std::function<void(const Event&)> show) {
        eventShows_[typeid(Event)] = [show = std::move(show)](const std::any& event) {
            show(std::any_cast<const Event&>(event));
        };
    }
    // From a worker: runs `f` on the window thread after what was handed over
    // before; waitFor() also waits for it to have run.
    void post(std::function<void()> f) { frontend_->post(std::move(f)); }
    void waitFor(const std::function<void()>& f) { frontend_->wait(f); }
    // The operations a quit must end: the tool's, unless the window says otherwise.
    virtual std::vector<Operation*> operations();
    // On the window thread once a worker has ended, whatever it did.
    virtual void operationDone() {}
    const Family& family_;

private:
    // While a worker runs before its operation has a name, and after its
    // end, no button takes a click; the window's own states stand between.
    WindowFrontend::Hooks withBusyButtons(WindowFrontend::Hooks hooks);
    void restoreButtons();
    void offerSafety();
    void applySafety();
    void showVerdict(const Verdict& verdict);
    void placeVerdict();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showLogMenu(const QPoint& at);

    std::map<std::type_index, std::function<void(const std::any&)>> eventShows_;
    std::vector<QPushButton*> buttons_;
    QPushButton* clicked_ = nullptr;  // the button whose click began the action under way
    std::vector<bool> enabledBeforeBusy_;
    bool startedSinceBusy_ = false;
    bool dialogConfirmed_ = false;
    std::unique_ptr<WindowFrontend> frontend_;
    QPlainTextEdit* log_ = nullptr;
    QLabel* verdict_ = nullptr;
    // Last: it goes first, its worker ended, while what it reports to still stands.
    std::unique_ptr<ImageTool> tool_;
};

}  // namespace kj
