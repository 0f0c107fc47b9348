// The window of a chip family, built from its description: a log, its gauges
// and its buttons as rows, which buttons start an action that locks the others,
// and what EXIT does while something runs. It owns the family's tool and the
// window front end its operations report through, the dialog-confirmed flag,
// the "Board / job" field, the verdict with what it offers after a failure,
// and the way a quit reaches a running operation. A derived window adds only
// what is its own.
#pragma once

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRect>
#include <any>
#include <functional>
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

class BackupsWindow;

class ChipWindow : public ToolWindow {
    Q_OBJECT
public:
    ChipWindow(AppContext& context, QWidget* launcher, const Family& family);
    ~ChipWindow() override;
    void abortOperations() override;
    // Each time it is shown the window takes the settings and the job as they stand.
    void setVisible(bool visible) override;
    // Some operation of the window runs on its worker.
    bool busy();
    // The family's image tool; only for a family that moves an image.
    ImageTool& tool() { return *tool_; }
    const Family& family() const { return family_; }
    // The family's backups, with Restore into this window's chip.
    void showBackups();

protected:
    // The read and write buttons' captions, alike in every chip window.
    static inline const QColor kReadColour{0, 0x80, 0};
    static inline const QColor kWriteColour{0xC0, 0, 0};

    // What a button's click does.
    enum class Does {
        Own,    // its row's handler
        Read,   // the tool's read
        Write,  // the tool's write
        Exit,   // the window's exit rule
    };
    struct Button {
        const char* name;
        QString caption;
        Does does = Does::Own;
        std::function<void()> handler{};
        QColor colour = Qt::black;
        QRect place = {};  // Layout::Placed
        int pixelSize = 16;
        QPushButton** slot = nullptr;  // where the window keeps it, when it needs it
    };
    struct GaugeRow {
        const char* name;
        int maximum;
        QRect place = {};
        QColor colour = Qt::black;
        Gauge** slot = nullptr;
    };
    struct LogRow {
        const char* name;
        int pixelSize = 13;
        QRect place = {};
    };
    // Where the controls go.
    enum class Layout {
        Column,  // `top`, the log, the gauges, then the buttons in a row with the job field, EXIT alone at its right
        Placed,  // each at its place, the job field at `jobPlace`, on a canvas of `size`
        Own,     // the window lays them out, the job field with them
    };
    // What EXIT does: while idle it returns to the launcher, after what the
    // rule clears; while an operation runs it asks it to stop, or is ignored.
    struct ExitRule {
        bool stops = false;
        bool clearsLog = false;
        bool emptiesGauge = false;  // the first gauge back to 0
    };
    struct Description {
        const char* name;  // the window's object name
        QString caption;
        std::vector<Button> buttons;
        LogRow log;
        std::vector<GaugeRow> gauges{};
        Layout layout = Layout::Column;
        QSize size{};
        QWidget* top = nullptr;  // Layout::Column: above the log
        QRect jobPlace{};        // Layout::Placed
        // While a read or a write started by its button runs, every other button is disabled.
        bool locks = false;
        ExitRule exit{};
        WindowFrontend::Hooks hooks{};  // the window's own, besides the buttons'
    };

    // Makes and lays out the controls, then attaches the front end and the
    // tool. Called once, from the derived window's constructor.
    void build(Description description);

    QPlainTextEdit* log() const { return log_; }
    // "Board / job": a label and the field, for a window that lays itself out.
    QWidget* jobField() const { return jobField_; }
    Frontend& frontend() { return *frontend_; }
    // On the window thread, in order with the lines: what the family shows of
    // its own, by the event's type.
    template <class Event>
    void onEvent(std::function<void(const Event&)> show) {
        eventShows_[typeid(Event)] = [show = std::move(show)](const std::any& event) {
            show(std::any_cast<const Event&>(event));
        };
    }
    // The operations a quit must end: the tool's, unless the window says otherwise.
    virtual std::vector<Operation*> operations();
    // EXIT while they run.
    virtual void stopOperations();
    // On the window thread once a worker has ended, whatever it did.
    virtual void operationDone() {}
    // Whatever the window clears of its own as EXIT leaves it.
    virtual void leaving() {}
    const Family& family_;

private:
    void exitRequested() override;
    QPushButton* addButton(const Button& row);
    void makeJobField();
    void applyJob();
    void layOut(const Description& description, const std::vector<QPushButton*>& buttons, QPushButton* exit);
    // `hooks` with the starters' buttons: every button but the starter that was
    // clicked disabled while its action runs (a second click is ignored while
    // busy), all enabled again at its end. An action that no starter began (the
    // log menu's verify) leaves none enabled.
    WindowFrontend::Hooks lockingButtons(std::vector<QPushButton*> starters, WindowFrontend::Hooks hooks);
    // While a worker runs before its operation has a name, and after its
    // end, no button takes a click; the window's own states stand between.
    WindowFrontend::Hooks withBusyButtons(WindowFrontend::Hooks hooks);
    void restoreButtons();
    void offerSafety();
    void applySafety();
    void showVerdict(const Verdict& verdict);
    void makeVerdictBar();
    void placeVerdict();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showLogMenu(const QPoint& at);

    ExitRule exitRule_;
    std::map<std::type_index, std::function<void(const std::any&)>> eventShows_;
    std::vector<QPushButton*> buttons_;
    std::vector<Gauge*> gauges_;
    QPushButton* clicked_ = nullptr;  // the button whose click began the action under way
    std::vector<bool> enabledBeforeBusy_;
    bool startedSinceBusy_ = false;
    bool dialogConfirmed_ = false;
    std::unique_ptr<WindowFrontend> frontend_;
    QPlainTextEdit* log_ = nullptr;
    QWidget* jobField_ = nullptr;
    QLineEdit* jobEdit_ = nullptr;
    // Under the log: the verdict, and after a failure what it offers.
    QWidget* verdictBar_ = nullptr;
    QLabel* verdict_ = nullptr;
    QPushButton* restoreOffer_ = nullptr;
    QPushButton* backupsOffer_ = nullptr;
    std::string offeredBackup_;
    BackupsWindow* backups_ = nullptr;  // made on first use
    // Last: it goes first, its worker ended, while what it reports to still stands.
    std::unique_ptr<ImageTool> tool_;
};

}  // namespace kj
