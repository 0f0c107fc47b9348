#include "gui/history_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "common/history.h"
#include "common/image_file.h"

namespace kj {

namespace {

constexpr QSize kSize(1280, 560);
const QString kEveryTool = QStringLiteral("(every tool)");
// A size sorts as a number, not as its digits.
constexpr std::string_view kSizeColumn = "size";

const FileDialogSpec kCsvDialog{.kind = FileDialogSpec::Kind::Save,
                                .title = "Export the history as CSV",
                                .filter = "CSV files (*.csv)|*.csv|All files|*.*",
                                .defaultName = "history.csv",
                                .defaultExt = ".csv"};

QTableWidgetItem* cell(const std::string& text, bool number) {
    auto* item = new QTableWidgetItem;
    if (number && !text.empty()) {
        item->setData(Qt::DisplayRole, QString::fromStdString(text).toULongLong());
    } else {
        item->setText(fromUtf8(text));
    }
    return item;
}

}  // namespace

HistoryWindow::HistoryWindow(AppContext& context, QWidget* parent) : QWidget(parent, Qt::Window), context_(context) {
    setObjectName("History_window");
    setWindowTitle(QStringLiteral("History"));
    job_ = new QLineEdit(this);
    job_->setObjectName("History_job");
    job_->setPlaceholderText(QStringLiteral("every job"));
    job_->setClearButtonEnabled(true);
    tool_ = new QComboBox(this);
    tool_->setObjectName("History_tool");
    tool_->addItem(kEveryTool, QString());
    for (const Family* family : families()) tool_->addItem(fromUtf8(family->name), fromUtf8(family->name));
    sinceOn_ = new QCheckBox(QStringLiteral("Since"), this);
    sinceOn_->setObjectName("History_since_on");
    since_ = new QDateEdit(QDate::currentDate(), this);
    since_->setObjectName("History_since");
    since_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    since_->setCalendarPopup(true);
    since_->setEnabled(false);
    auto* reload = makeButton(this, "History_refresh", QStringLiteral("Refresh"), Qt::black, 14);
    table_ = new QTableWidget(this);
    table_->setObjectName("History_table");
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->sortByColumn(0, Qt::DescendingOrder);
    problem_ = new QLabel(this);
    problem_->setObjectName("History_problem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #d00000"));
    problem_->hide();
    export_ = makeButton(this, "History_export", QStringLiteral("Export CSV…"), Qt::black, 14);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("Job:"), this));
    filters->addWidget(job_);
    filters->addWidget(new QLabel(QStringLiteral("Tool:"), this));
    filters->addWidget(tool_);
    filters->addWidget(sinceOn_);
    filters->addWidget(since_);
    filters->addStretch();
    filters->addWidget(reload);
    filters->addWidget(export_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table_, 1);
    layout->addWidget(problem_);
    resize(kSize);

    connect(job_, &QLineEdit::editingFinished, this, &HistoryWindow::refresh);
    connect(tool_, &QComboBox::activated, this, &HistoryWindow::refresh);
    connect(sinceOn_, &QCheckBox::toggled, this, [this](bool on) {
        since_->setEnabled(on);
        refresh();
    });
    connect(since_, &QDateEdit::dateChanged, this, [this] {
        if (sinceOn_->isChecked()) refresh();
    });
    connect(reload, &QPushButton::clicked, this, &HistoryWindow::refresh);
    connect(export_, &QPushButton::clicked, this, &HistoryWindow::exportCsv);
}

void HistoryWindow::open() {
    refresh();
    if (!isVisible()) centreOnScreen(this);
    show();
    raise();
    activateWindow();
}

void HistoryWindow::refresh() {
    const history::OperationFilter filter{
        .job = job_->text().trimmed().toStdString(),
        .tool = tool_->currentData().toString().toStdString(),
        .since = sinceOn_->isChecked() ? since_->date().toString(Qt::ISODate).toStdString() : std::string()};
    history::Store store;
    const auto rows = store.operations(filter);
    problem_->setVisible(!rows);
    if (!rows) problem_->setText(fromUtf8(rows.error()));
    const auto header = history::operationHeader();
    table_->setSortingEnabled(false);
    table_->clearContents();
    table_->setColumnCount(static_cast<int>(header.size()));
    table_->setRowCount(rows ? static_cast<int>(rows->size()) : 0);
    for (int column = 0; const auto& caption : header)
        table_->setHorizontalHeaderItem(column++, new QTableWidgetItem(fromUtf8(caption)));
    if (rows) {
        for (int row = 0; const auto& operation : *rows) {
            for (int column = 0; const auto& field : history::operationFields(operation)) {
                table_->setItem(row, column, cell(field, header[static_cast<size_t>(column)] == kSizeColumn));
                ++column;
            }
            ++row;
        }
    }
    table_->resizeColumnsToContents();
    // Sorted again as the header says: newest first until a column is clicked.
    table_->setSortingEnabled(true);
}

std::vector<std::vector<std::string>> HistoryWindow::shownRows() const {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < table_->rowCount(); ++row) {
        std::vector<std::string> fields;
        for (int column = 0; column < table_->columnCount(); ++column) {
            const QTableWidgetItem* item = table_->item(row, column);
            fields.push_back(item ? item->text().toStdString() : std::string());
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

void HistoryWindow::exportCsv() {
    bool confirmed = false;
    const auto path = context_.desktop.runFileDialog(this, kCsvDialog, [&] { confirmed = true; });
    if (!confirmed || !path) return;
    const std::string text = history::csvText(history::operationHeader(), shownRows());
    ImageOutput out;
    const std::string target = path->toStdString();
    if (!out.create(target) || !out.write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())) ||
        !out.commit()) {
        context_.desktop.errorBox(this, fromUtf8(fileProblem(target, out.error())));
    }
}

}  // namespace kj
