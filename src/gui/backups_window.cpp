#include "gui/backups_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "common/history.h"
#include "gui/chip_window.h"

namespace kj {

namespace {

constexpr Text kTitle{"Backups: ", "Резервные копии: "};
constexpr Text kJob{"Job:", "Работа:"};
constexpr Text kEveryJob{"(every job)", "(все работы)"};
constexpr Text kRestore{"Restore", "Вернуть в чип"};
constexpr Text kShowFolder{"Show in folder", "Показать в папке"};
constexpr Text kSuspect{
    "Taken after a failed write or erase of the same board: the chip may no longer have held its own firmware.",
    "Снята после неудачной записи или стирания той же платы: в чипе могла быть уже не её прошивка."};

constexpr QSize kSize(1180, 420);
const QColor kSuspectTint(0xFF, 0xF0, 0xB0);

// The family is the window's: its column goes.
constexpr std::string_view kToolColumn = "tool";

}  // namespace

BackupsWindow::BackupsWindow(ChipWindow& chip, AppContext& context)
    : QWidget(&chip, Qt::Window), chip_(chip), context_(context) {
    const Language language = chip.family().language;
    setObjectName("Backups_window");
    setWindowTitle(fromUtf8(kTitle.in(language)) + fromUtf8(chip.family().launcherCaption));
    job_ = new QComboBox(this);
    job_->setObjectName("Backups_job");
    job_->setMinimumContentsLength(24);
    table_ = new QTableWidget(this);
    table_->setObjectName("Backups_table");
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    problem_ = new QLabel(this);
    problem_->setObjectName("Backups_problem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #d00000"));
    problem_->hide();
    restore_ = makeButton(this, "Backups_restore", fromUtf8(kRestore.in(language)), Qt::black, 16);
    showFolder_ = makeButton(this, "Backups_show_in_folder", fromUtf8(kShowFolder.in(language)), Qt::black, 16);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(fromUtf8(kJob.in(language)), this));
    top->addWidget(job_);
    top->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(restore_);
    bottom->addWidget(showFolder_);
    bottom->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    layout->addWidget(problem_);
    layout->addLayout(bottom);
    resize(kSize);

    connect(job_, &QComboBox::activated, this, &BackupsWindow::refresh);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &BackupsWindow::selectionChanged);
    connect(table_, &QTableWidget::itemDoubleClicked, this, &BackupsWindow::restore);
    connect(restore_, &QPushButton::clicked, this, &BackupsWindow::restore);
    connect(showFolder_, &QPushButton::clicked, this, &BackupsWindow::showInFolder);
}

void BackupsWindow::open() {
    listJobs();
    refresh();
    if (!isVisible()) centreOnScreen(this);
    show();
    raise();
    activateWindow();
}

// Every job that has a backup of the family; the one worked on first chosen.
void BackupsWindow::listJobs() {
    const Language language = chip_.family().language;
    history::Store store;
    const auto all = store.backups({.tool = std::string(chip_.family().name)});
    std::set<std::string> jobs;
    if (all) {
        for (const auto& backup : *all) {
            if (!backup.job.empty()) jobs.insert(backup.job);
        }
    }
    job_->clear();
    job_->addItem(fromUtf8(kEveryJob.in(language)), QString());
    for (const auto& job : jobs) job_->addItem(fromUtf8(job), fromUtf8(job));
    job_->setCurrentIndex(std::max(0, job_->findData(fromUtf8(context_.job))));
}

void BackupsWindow::refresh() {
    const Language language = chip_.family().language;
    history::Store store;
    const auto listed =
        store.backups({.tool = std::string(chip_.family().name), .job = job_->currentData().toString().toStdString()});
    problem_->setVisible(!listed);
    if (!listed) problem_->setText(fromUtf8(listed.error()));
    const auto header = history::backupHeader();
    table_->clearContents();
    table_->setColumnCount(static_cast<int>(header.size()));
    table_->setRowCount(listed ? static_cast<int>(listed->size()) : 0);
    for (int column = 0; const auto& caption : header) {
        table_->setHorizontalHeaderItem(column, new QTableWidgetItem(fromUtf8(caption)));
        table_->setColumnHidden(column++, caption == kToolColumn);
    }
    if (listed) {
        for (int row = 0; const auto& backup : *listed) {
            const auto fields = history::backupFields(backup);
            for (int column = 0; const auto& field : fields) {
                auto* item = new QTableWidgetItem(fromUtf8(field));
                item->setData(Qt::UserRole, fromUtf8(backup.path));
                if (backup.suspect == true) {
                    item->setBackground(kSuspectTint);
                    item->setToolTip(fromUtf8(kSuspect.in(language)));
                }
                table_->setItem(row, column++, item);
            }
            ++row;
        }
    }
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    if (table_->rowCount() > 0) table_->selectRow(0);
    selectionChanged();
}

void BackupsWindow::selectionChanged() {
    const bool chosen = !chosenPath().empty();
    restore_->setEnabled(chosen && !chip_.busy());
    showFolder_->setEnabled(chosen);
}

std::string BackupsWindow::chosenPath() const {
    const auto rows = table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return {};
    const QTableWidgetItem* item = table_->item(rows.front().row(), 0);
    return item ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

// The chip window runs it and asks its question; this window makes way.
void BackupsWindow::restore() {
    const std::string path = chosenPath();
    if (path.empty() || chip_.busy()) return;
    hide();
    chip_.raise();
    chip_.activateWindow();
    chip_.tool().startRestore(path);
}

void BackupsWindow::showInFolder() {
    const std::string path = chosenPath();
    if (!path.empty()) context_.desktop.showInFolder(fromUtf8(path));
}

}  // namespace kj
