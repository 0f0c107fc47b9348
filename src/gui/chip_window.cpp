#include "gui/chip_window.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <algorithm>

#include "common/backup_name.h"
#include "common/image_file.h"
#include "gui/backups_window.h"

namespace kj {

namespace {

constexpr Text kBackupSetting{"Back up the chip before a write or an erase",
                              "Резервная копия чипа перед записью и стиранием"};
constexpr Text kReadTwiceSetting{"Read twice and compare", "Читать дважды и сравнивать"};
constexpr Text kVerifyAction{"Verify the chip against a file...", "Сравнить чип с файлом..."};
constexpr Text kBackupsAction{"Backups…", "Резервные копии…"};
constexpr Text kRestoreBeforeWrite{"Restore the backup taken before this write",
                                   "Вернуть резервную копию, снятую перед этой записью"};
constexpr Text kRestoreBeforeErase{"Restore the backup taken before this erase",
                                   "Вернуть резервную копию, снятую перед этим стиранием"};

const QString kJobCaption = QStringLiteral("Board / job");
const QString kJobTip = QStringLiteral(
    "The board or job worked on: it names the backups and the files read, and marks the record and the "
    "history. Letters, digits, '-', '_' and '.' are kept; anything else becomes '_'.");
constexpr int kJobFieldWidth = 180;
constexpr int kOfferPixels = 13;

// Green, red or yellow, as the verdict says.
QString verdictStyle(Verdict::Kind kind) {
    const char* colour = kind == Verdict::Kind::Passed   ? "#00a000"
                         : kind == Verdict::Kind::Failed ? "#d00000"
                                                         : "#e0c000";
    return QString("QLabel { background: %1; color: %2; padding: 4px 8px; }")
        .arg(colour, kind == Verdict::Kind::Warning ? "black" : "white");
}

}  // namespace

ChipWindow::ChipWindow(AppContext& context, QWidget* launcher, const Family& family)
    : ToolWindow(context, launcher, {}, family.firmware), family_(family) {}

ChipWindow::~ChipWindow() = default;

void ChipWindow::build(Description description) {
    setObjectName(description.name);
    setWindowTitle(description.caption);
    if (description.layout == Layout::Placed) setCanvasSize(description.size.width(), description.size.height());
    exitRule_ = description.exit;

    std::vector<QPushButton*> row, starters;
    QPushButton* exit = nullptr;
    for (const Button& spec : description.buttons) {
        QPushButton* button = addButton(spec);
        if (spec.does == Does::Exit) {
            exit = button;
            continue;
        }
        row.push_back(button);
        if (description.locks && (spec.does == Does::Read || spec.does == Does::Write)) starters.push_back(button);
    }
    log_ = makeMemo(canvas(), description.log.name, description.log.pixelSize);
    if (!description.log.place.isEmpty()) log_->setGeometry(description.log.place);
    for (const GaugeRow& spec : description.gauges) {
        auto* gauge = new Gauge(canvas());
        gauge->setObjectName(spec.name);
        gauge->setMaxValue(spec.maximum);
        gauge->setForeColor(spec.colour);
        if (!spec.place.isEmpty()) gauge->setGeometry(spec.place);
        if (spec.slot) *spec.slot = gauge;
        gauges_.push_back(gauge);
    }
    makeJobField();
    if (description.layout == Layout::Placed) jobField_->setGeometry(description.jobPlace);
    if (description.layout == Layout::Column) layOut(description, row, exit);
    if (description.layout != Layout::Placed && !description.size.isEmpty()) resize(description.size);

    WindowFrontend::Hooks hooks = std::move(description.hooks);
    if (!starters.empty()) hooks = lockingButtons(std::move(starters), std::move(hooks));
    hooks.saveCanClose = hooks.openCanClose = [this] { dialogConfirmed_ = true; };
    hooks.verdict = [this](const Verdict& verdict) { showVerdict(verdict); };
    hooks.event = [this](const std::any& event) {
        if (const auto show = eventShows_.find(event.type()); show != eventShows_.end()) show->second(event);
    };
    frontend_ = std::make_unique<WindowFrontend>(this, log_, gauges_, context_.desktop, dialogConfirmed_,
                                                 withBusyButtons(std::move(hooks)));
    frontend_->setJob(context_.job);
    tool_ = makeImageTool(family_, bridge(), *frontend_);
    if (tool_) {
        frontend_->setPlaces({utf8Of(backupFolder(family_))});
        offerSafety();
    }
}

QPushButton* ChipWindow::addButton(const Button& spec) {
    auto* button = kj::makeButton(canvas(), spec.name, spec.caption, spec.colour, spec.pixelSize);
    if (!spec.place.isEmpty()) button->setGeometry(spec.place);
    std::function<void()> handler = spec.handler;
    switch (spec.does) {
        case Does::Own: break;
        case Does::Read: handler = [this] { tool_->startRead(); }; break;
        case Does::Write: handler = [this] { tool_->startWrite(); }; break;
        case Does::Exit: handler = [this] { exitRequested(); }; break;
    }
    connect(button, &QPushButton::clicked, this, [this, button, handler = std::move(handler)] {
        clicked_ = button;
        if (handler) handler();
    });
    if (spec.slot) *spec.slot = button;
    buttons_.push_back(button);
    return button;
}

void ChipWindow::layOut(const Description& description, const std::vector<QPushButton*>& buttons, QPushButton* exit) {
    auto* row = new QHBoxLayout;
    for (auto* button : buttons) row->addWidget(button);
    row->addWidget(jobField_);
    row->addStretch();
    if (exit) row->addWidget(exit);
    auto* layout = new QVBoxLayout(canvas());
    if (description.top) layout->addWidget(description.top);
    layout->addWidget(log_, 1);
    for (auto* gauge : gauges_) layout->addWidget(gauge);
    layout->addLayout(row);
}

// ---- the job ----

// One label for every window: each takes it as it is shown, and a change
// here is every window's, kept for the next start.
void ChipWindow::makeJobField() {
    jobField_ = new QWidget(canvas());
    jobField_->setObjectName("Job_field");
    auto* label = new QLabel(kJobCaption, jobField_);
    jobEdit_ = new QLineEdit(jobField_);
    jobEdit_->setObjectName("Board_job");
    jobEdit_->setMaxLength(static_cast<int>(kMaxLabel));
    jobEdit_->setMinimumWidth(kJobFieldWidth / 2);
    jobEdit_->setToolTip(kJobTip);
    label->setBuddy(jobEdit_);
    label->setToolTip(kJobTip);
    auto* layout = new QHBoxLayout(jobField_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(jobEdit_, 1);
    jobEdit_->setText(fromUtf8(context_.job));
    connect(jobEdit_, &QLineEdit::textEdited, this, [this] { applyJob(); });
    // What the field shows is what names the files.
    connect(jobEdit_, &QLineEdit::editingFinished, this, [this] {
        applyJob();
        if (jobEdit_->text() != fromUtf8(context_.job)) jobEdit_->setText(fromUtf8(context_.job));
        saveJob(context_.safety.file, context_.job);
    });
}

void ChipWindow::applyJob() {
    context_.job = safeLabel(jobEdit_->text().toStdString());
    if (frontend_) frontend_->setJob(context_.job);
}

// ---- running ----

void ChipWindow::abortOperations() {
    for (Operation* operation : operations()) operation->abort();
}

std::vector<Operation*> ChipWindow::operations() {
    if (!tool_) return {};
    return {&tool_->operation()};
}

void ChipWindow::stopOperations() {
    for (Operation* operation : operations()) operation->requestStop();
}

bool ChipWindow::busy() {
    const auto ops = operations();
    return std::any_of(ops.begin(), ops.end(), [](Operation* operation) { return !operation->idle(); });
}

void ChipWindow::exitRequested() {
    if (busy()) {
        if (exitRule_.stops) stopOperations();
        return;
    }
    if (exitRule_.clearsLog) clearLogLines(log_);
    leaving();
    showLauncherAndHide();
    if (exitRule_.emptiesGauge && !gauges_.empty()) gauges_.front()->setProgress(0);
}

WindowFrontend::Hooks ChipWindow::withBusyButtons(WindowFrontend::Hooks hooks) {
    hooks.busy = [this](bool on) {
        jobEdit_->setEnabled(!on);
        if (on) {
            if (verdictBar_) verdictBar_->hide();
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
    hooks.started = [this, starters = std::move(starters), started = std::move(hooks.started)](std::string_view name) {
        const bool byStarter = std::find(starters.begin(), starters.end(), clicked_) != starters.end();
        for (auto* button : buttons_) button->setEnabled(byStarter && button == clicked_);
        if (started) started(name);
    };
    hooks.ended = [this, ended = std::move(hooks.ended)] {
        for (auto* button : buttons_) button->setEnabled(true);
        if (ended) ended();
    };
    return hooks;
}

// ---- the net ----

void ChipWindow::setVisible(bool visible) {
    if (visible) {
        applySafety();
        if (jobEdit_) {
            jobEdit_->setText(fromUtf8(context_.job));
            frontend_->setJob(context_.job);
        }
    }
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

void ChipWindow::makeVerdictBar() {
    const Language language = family_.language;
    verdictBar_ = new QWidget(log_);
    verdictBar_->setObjectName("Verdict_bar");
    restoreOffer_ = kj::makeButton(verdictBar_, "Restore_backup", {}, Qt::black, kOfferPixels);
    backupsOffer_ =
        kj::makeButton(verdictBar_, "Show_backups", fromUtf8(kBackupsAction.in(language)), Qt::black, kOfferPixels);
    verdict_ = new QLabel(verdictBar_);
    verdict_->setObjectName("Verdict");
    verdict_->setFont(courier(16, true));
    auto* layout = new QHBoxLayout(verdictBar_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(restoreOffer_);
    layout->addWidget(backupsOffer_);
    layout->addWidget(verdict_);
    connect(restoreOffer_, &QPushButton::clicked, this, [this] { tool_->startRestore(offeredBackup_); });
    connect(backupsOffer_, &QPushButton::clicked, this, &ChipWindow::showBackups);
    // Under the text, never over its last line, whatever scroll bars come and go.
    if (auto* view = qobject_cast<LogView*>(log_)) view->setFooter(verdictBar_);
    log_->viewport()->installEventFilter(this);
}

// A failure offers the family's backups, and the one taken right before a
// write or an erase that failed: the board's own firmware, one click away.
void ChipWindow::showVerdict(const Verdict& verdict) {
    if (!verdictBar_) makeVerdictBar();
    const Language language = family_.language;
    const bool failed = verdict.kind == Verdict::Kind::Failed;
    const auto name = parseBackupName(utf8Of(pathOf(verdict.backup).filename()), family_.name);
    const bool restorable = failed && name && (name->before == kBeforeWrite || name->before == kBeforeErase);
    offeredBackup_ = restorable ? verdict.backup : std::string();
    if (restorable) {
        restoreOffer_->setText(
            fromUtf8((name->before == kBeforeWrite ? kRestoreBeforeWrite : kRestoreBeforeErase).in(language)));
        restoreOffer_->setToolTip(fromUtf8(verdict.backup));
    }
    restoreOffer_->setVisible(restorable);
    backupsOffer_->setVisible(failed);
    verdict_->setText(QString::fromStdString(verdict.text()));
    verdict_->setToolTip(verdict_->text());
    verdict_->setStyleSheet(verdictStyle(verdict.kind));
    verdictBar_->show();
    placeVerdict();
    verdictBar_->raise();
}

// The log places it; the verdict's width follows its text, within what the offers leave.
void ChipWindow::placeVerdict() {
    int room = std::max(0, log_->viewport()->width() - 8);
    for (QPushButton* offer : {restoreOffer_, backupsOffer_}) {
        if (!offer->isHidden()) room -= offer->sizeHint().width() + verdictBar_->layout()->spacing();
    }
    verdict_->setMaximumWidth(std::max(0, room));
    verdict_->adjustSize();
    verdictBar_->adjustSize();
}

bool ChipWindow::eventFilter(QObject* watched, QEvent* event) {
    if (verdictBar_ && watched == log_->viewport() && event->type() == QEvent::Resize) placeVerdict();
    return ToolWindow::eventFilter(watched, event);
}

void ChipWindow::showBackups() {
    if (!backups_) backups_ = new BackupsWindow(*this, context_);
    backups_->open();
}

void ChipWindow::showLogMenu(const QPoint& at) {
    const Language language = family_.language;
    std::unique_ptr<QMenu> menu(log_->createStandardContextMenu());
    menu->addSeparator();
    const bool idle = !busy();
    const auto addSetting = [&](const Text& text, bool SafetySettings::*setting) {
        QAction* action = menu->addAction(fromUtf8(text.in(language)));
        action->setCheckable(true);
        action->setChecked(context_.safety.*setting);
        action->setEnabled(idle);
        connect(action, &QAction::toggled, this, [this, setting](bool on) {
            context_.safety.*setting = on;
            context_.safety.save();
            applySafety();
        });
    };
    addSetting(kBackupSetting, &SafetySettings::backup);
    addSetting(kReadTwiceSetting, &SafetySettings::readTwice);
    QAction* verify = menu->addAction(fromUtf8(kVerifyAction.in(language)));
    verify->setObjectName("VerifyAction");
    verify->setEnabled(idle);
    connect(verify, &QAction::triggered, this, [this] { tool_->startVerify(); });
    QAction* backups = menu->addAction(fromUtf8(kBackupsAction.in(language)));
    backups->setObjectName("BackupsAction");
    connect(backups, &QAction::triggered, this, &ChipWindow::showBackups);
    menu->exec(log_->mapToGlobal(at));
}

}  // namespace kj
