// A family's backups, newest first, as the folder and the index know them:
// when each was taken, for which job, before what and how that ended, the
// chip's ID, its size, SHA-256 and path. A filter on the job; Restore writes
// the chosen one back through the chip window's tool, which asks the one
// question; "Show in folder" opens its folder.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <string>

#include "gui/tool_window.h"

namespace kj {

class ChipWindow;

class BackupsWindow : public QWidget {
    Q_OBJECT
public:
    // A window of `chip`'s, above it.
    BackupsWindow(ChipWindow& chip, AppContext& context);
    // Shown with the list as it is now, on the job worked on where it has backups.
    void open();
    // The list read again for the job chosen.
    void refresh();

private:
    void listJobs();
    void restore();
    void showInFolder();
    void selectionChanged();
    // The path of the row chosen; empty: none.
    std::string chosenPath() const;

    ChipWindow& chip_;
    AppContext& context_;
    QComboBox* job_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* problem_ = nullptr;
    QPushButton* restore_ = nullptr;
    QPushButton* showFolder_ = nullptr;
};

}  // namespace kj
