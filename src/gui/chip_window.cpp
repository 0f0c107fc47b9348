#include "gui/chip_window.h"

#include <algorithm>

namespace kj {

ChipWindow::ChipWindow(AppContext& context, QWidget* launcher, const QString& caption, const Family& family)
    : ToolWindow(context, launcher, caption, family.firmware), family_(family) {}

void ChipWindow::abortOperations() {
    for (Operation* operation : operations()) operation->abort();
}

bool ChipWindow::busy() {
    const auto ops = operations();
    return std::any_of(ops.begin(), ops.end(), [](Operation* operation) { return !operation->idle(); });
}

void ChipWindow::makeButtons(std::initializer_list<ButtonSpec> buttons) {
    for (const auto& spec : buttons) {
        auto* button = makeButton(canvas(), spec.name, spec.caption, spec.colour, spec.pixelSize);
        if (!spec.place.isEmpty()) button->setGeometry(spec.place);
        connect(button, &QPushButton::clicked, this, spec.handler);
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
    hooks.saveCanClose = hooks.openCanClose = [this] { dialogConfirmed_ = true; };
    frontend_ = std::make_unique<WindowFrontend>(this, log, std::move(gauges), context_.desktop, dialogConfirmed_,
                                                 withBusyButtons(std::move(hooks)));
}

WindowFrontend::Hooks ChipWindow::withBusyButtons(WindowFrontend::Hooks hooks) {
    hooks.busy = [this](bool on) {
        if (on) {
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

WindowFrontend::Hooks ChipWindow::lockingButtons(std::vector<Starter> starters, WindowFrontend::Hooks hooks) {
    hooks.started = [this, starters = std::move(starters)](std::string_view name) {
        const auto own = std::find_if(starters.begin(), starters.end(),
                                      [name](const Starter& starter) { return starter.operation == name; });
        for (auto* button : buttons_) button->setEnabled(own != starters.end() && own->button == button);
    };
    hooks.ended = [this] {
        for (auto* button : buttons_) button->setEnabled(true);
    };
    return hooks;
}

}  // namespace kj
