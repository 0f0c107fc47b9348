// What every window and the command line did, one row per operation, newest
// first: filters on the job, the tool and a first day, columns that sort on a
// click, and the rows shown exported as CSV.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <string>
#include <vector>

#include "gui/tool_window.h"

namespace kj {

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(AppContext& context, QWidget* parent = nullptr);
    // Shown with the rows as they are now.
    void open();
    // The rows read again under the filters.
    void refresh();
    // The rows as shown, in their order, as their texts.
    std::vector<std::vector<std::string>> shownRows() const;

private:
    void exportCsv();

    AppContext& context_;
    QLineEdit* job_ = nullptr;
    QComboBox* tool_ = nullptr;
    QCheckBox* sinceOn_ = nullptr;
    QDateEdit* since_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* problem_ = nullptr;
    QPushButton* export_ = nullptr;
};

}  // namespace kj
