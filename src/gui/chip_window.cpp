#include "gui/chip_window.h"

#include <QEvent>
#include <QMenu>
#include <algorithm>

namespace kj {

ChipWindow::ChipWindow(AppContext& context, QWidget* launcher, const QString& caption, const Family& family)
    : ToolWindow(context, launcher, caption, family.firmware), family_(family) {}

void ChipWindow::abortOperations() {
    for (Operation* operation : operations()) operation->abort();
}

std::vector<Operation*> ChipWindow::operations() {
    if (!tool_) return {};
    return {&tool_->operation()};
}

bool ChipWindow::busy() {
    const auto ops = operations();
    return std::any_of(ops.begin(), ops.end(), [](Operation* operation) { return !operation->idle(); });
}

void ChipWindow::makeButtons(std::initializer_list<ButtonSpec> buttons) {
    for (const auto& spec : buttons) {
        auto* button = makeButton(canvas(), spec.name, spec.caption, spec.colour, spec.pixelSize);
        if (!spec.place.isEmpty()) button->setGeometry(spec.place);
        connect(button, &QPushButton::clicked, this, [this, button, handler = spec.handler] {
            clicked_ = button;
            handler();
        });
        *spec.slot = button;
        buttons_.push_back(button);
    }
}

QPlainTextEdit* ChipWindow::makeLog(const char* name, int pixelSize, QRect place) {
    auto* log = makeMemo(canvas(), name, pixelSize);
    if (!place.isEmpty()) log->setGeometry(place);
    return log;
}

std::vector<Gauge*> ChipWindow::makeGauges(std::initializer_list<GaugeSpec> gauges) {
    std::vector<Gauge*> made;
    for (const auto& spec : gauges) {
        auto* gauge = new Gauge(canvas());
        gauge->setObjectName(spec.name);
        gauge->setMaxValue(spec.maximum);
        gauge->setForeColor(spec.colour);
        if (!spec.place.isEmpty()) gauge->setGeometry(spec.place);
        *spec.slot = gauge;
        made.push_back(gauge);
    }
    return made;
}

void ChipWindow::layOut(QWidget* top, QPlainTextEdit* log, const std::vector<Gauge*>& gauges,
                        std::initializer_list<QPushButton*> buttons, QPushButton* exit) {
    auto* row = new QHBoxLayout;
    for (auto* button : buttons) row->addWidget(button);
    row->addStretch();
    row->addWidget(exit);
    auto* layout = new QVBoxLayout(canvas());
    if (top) layout->addWidget(top);
    layout->addWidget(log, 1);
    for (auto* gauge : gauges) layout->addWidget(gauge);
    layout->addLayout(row);
}

void ChipWindow::attachFrontend(QPlainTextEdit* log, std::vector<Gauge*> gauges, WindowFrontend::Hooks hooks) {
    log_ = log;
    hooks.saveCanClose = hooks.openCanClose = [this] { dialogConfirmed_ = true; };
    hooks.verdict = [this](const Verdict& verdict) { showVerdict(verdict); };
    hooks.event = [this](const std::any& event) {
        if (const auto show = eventShows_.find(event.type()); show != eventShows_.end()) show->second(event);
    };
    frontend_ = std::make_unique<WindowFrontend>(this, log, std::move(gauges), context_.desktop, dialogConfirmed_,
                                                 withBusyButtons(std::move(hooks)));
    frontend_->setJob(context_.job);
    tool_ = makeImageTool(family_, bridge(), *frontend_);
    if (tool_) offerSafety();
}

WindowFrontend::Hooks ChipWindow::withBusyButtons(WindowFrontend::Hooks hooks) {
    hooks.busy = [this](bool on) {
        if (on) {
            if (verdict_) verdict_->hide();
            enabledBeforeBusy_.clear();
            for (auto* button : buttons_) {
                enabledBeforeBusy_.push_back(button->isEnabled());
                button->setEnabled(false);
            }
            startedSinceBusy_ = false;
            setCursor(Qt::BusyCursor);
            return;
        }
        if (!startedSinceBusy_) restoreButtons();
        clicked_ = nullptr;
        unsetCursor();
        operationDone();
    };
    hooks.started = [this, started = std::move(hooks.started)](std::string_view name) {
        startedSinceBusy_ = true;
        restoreButtons();
        if (started) started(name);
    };
    return hooks;
}

void ChipWindow::restoreButtons() {
    for (size_t i = 0; i < buttons_.size() && i < enabledBeforeBusy_.size(); ++i)
        buttons_[i]->setEnabled(enabledBeforeBusy_[i]);
}

WindowFrontend::Hooks ChipWindow::lockingButtons(std::vector<QPushButton*> starters, WindowFrontend::Hooks hooks) {
    hooks.started = [this, starters = std::move(starters)](std::string_view) {
        const bool byStarter = std::find(starters.begin(), starters.end(), clicked_) != starters.end();
        for (auto* button : buttons_) button->setEnabled(byStarter && button == clicked_);
    };
    hooks.ended = [this] {
        for (auto* button : buttons_) button->setEnabled(true);
    };
    return hooks;
}

// ---- the net ----

namespace {

struct SafetyTexts {
    const char* backup;
    const char* readTwice;
    const char* verify;
};
constexpr SafetyTexts kEnglishTexts{"Back up the chip before a write or an erase", "Read twice and compare",
                                    "Verify the chip against a file..."};
constexpr SafetyTexts kRussianTexts{"Резервная копия чипа перед записью и стиранием", "Читать дважды и сравнивать",
                                    "Сравнить чип с файлом..."};

// Green, red or yellow, as the verdict says.
QString verdictStyle(Verdict::Kind kind) {
    const char* colour = kind == Verdict::Kind::Passed   ? "#00a000"
                         : kind == Verdict::Kind::Failed ? "#d00000"
                                                         : "#e0c000";
    return QString("QLabel { background: %1; color: %2; padding: 4px 8px; }")
        .arg(colour, kind == Verdict::Kind::Warning ? "black" : "white");
}

}  // namespace

void ChipWindow::setVisible(bool visible) {
    if (visible) applySafety();
    ToolWindow::setVisible(visible);
}

void ChipWindow::offerSafety() {
    applySafety();
    log_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(log_, &QWidget::customContextMenuRequested, this, &ChipWindow::showLogMenu);
}

// A window always asks before it destroys and always verifies; what it backs up
// and how it reads are the user's settings.
void ChipWindow::applySafety() {
    if (!tool_) return;
    tool_->safety = {.on = true, .backup = context_.safety.backup, .readTwice = context_.safety.readTwice};
}

void ChipWindow::showVerdict(const Verdict& verdict) {
    if (!verdict_) {
        verdict_ = new QLabel(log_);
        verdict_->setObjectName("Verdict");
        verdict_->setFont(courier(16, true));
        // Under the text, never over its last line, whatever scroll bars come and go.
        if (auto* view = qobject_cast<LogView*>(log_)) view->setFooter(verdict_);
        log_->viewport()->installEventFilter(this);
    }
    verdict_->setText(QString::fromStdString(verdict.text()));
    verdict_->setToolTip(verdict_->text());
    verdict_->setStyleSheet(verdictStyle(verdict.kind));
    placeVerdict();
    verdict_->show();
    verdict_->raise();
}

// The log places it; its width follows the text's.
void ChipWindow::placeVerdict() {
    verdict_->setMaximumWidth(std::max(0, log_->viewport()->width() - 8));
    verdict_->adjustSize();
}

bool ChipWindow::eventFilter(QObject* watched, QEvent* event) {
    if (verdict_ && watched == log_->viewport() && event->type() == QEvent::Resize) placeVerdict();
    return ToolWindow::eventFilter(watched, event);
}

void ChipWindow::showLogMenu(const QPoint& at) {
    const SafetyTexts& texts = family_.language == Language::Russian ? kRussianTexts : kEnglishTexts;
    std::unique_ptr<QMenu> menu(log_->createStandardContextMenu());
    menu->addSeparator();
    const bool idle = !busy();
    const auto addSetting = [&](const char* text, bool SafetySettings::*setting) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setCheckable(true);
        action->setChecked(context_.safety.*setting);
        action->setEnabled(idle);
        connect(action, &QAction::toggled, this, [this, setting](bool on) {
            context_.safety.*setting = on;
            context_.safety.save();
            applySafety();
        });
    };
    addSetting(texts.backup, &SafetySettings::backup);
    addSetting(texts.readTwice, &SafetySettings::readTwice);
    QAction* verify = menu->addAction(QString::fromUtf8(texts.verify));
    verify->setObjectName("VerifyAction");
    verify->setEnabled(idle);
    connect(verify, &QAction::triggered, this, [this] { tool_->startVerify(); });
    menu->exec(log_->mapToGlobal(at));
}

}  // namespace kj
