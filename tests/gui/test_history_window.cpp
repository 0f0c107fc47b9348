// The History window over a data folder's rows: its filters, a column sorted
// by a click, and the CSV of exactly the rows shown, in their order.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include "common/history.h"
#include "gui/history_window.h"
#include "sim/sim_bridge.h"
#include "support/rig.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

namespace history = kj::history;

std::vector<std::string> column(const QTableWidget& table, const std::string& caption) {
    const auto header = history::operationHeader();
    const int at = static_cast<int>(std::find(header.begin(), header.end(), caption) - header.begin());
    std::vector<std::string> texts;
    for (int row = 0; row < table.rowCount(); ++row) texts.push_back(table.item(row, at)->text().toStdString());
    return texts;
}

TEST(HistoryWindow, FiltersSortsAndExportsTheRowsShown) {
    ScratchDir dir;
    DataHome home(dir.path());
    const std::string awkward = dir.file("a, \"b\".bin");
    {
        history::Store store;
        const history::OperationRow rows[] = {
            {.time = "2024-03-01 10:00:00",
             .job = "A-1",
             .tool = "kb90xx",
             .action = "write",
             .file = awkward,
             .size = 10,
             .verdict = "FAILED",
             .reason = "the chip differs from the file at 0x02A51; bytes that differ: 1"},
            {.time = "2024-03-02 11:00:00",
             .job = "A-1",
             .tool = "npce",
             .action = "read",
             .size = 9,
             .verdict = "PASSED"},
            {.time = "2024-02-01 09:00:00",
             .job = "B-2",
             .tool = "kb90xx",
             .action = "read",
             .size = 131072,
             .verdict = "PASSED"},
        };
        for (const auto& row : rows) ASSERT_TRUE(store.addOperation(row).ok());
    }
    ScriptedDesktop desktop;
    kj::AppContext context{[](std::string_view) { return std::make_unique<kjsim::SimBridge>(); }, desktop};
    kj::HistoryWindow window(context);
    window.open();
    auto* table = child<QTableWidget>(window, "History_table");
    EXPECT_EQ(column(*table, "time"), (Lines{"2024-03-02 11:00:00", "2024-03-01 10:00:00", "2024-02-01 09:00:00"}));

    auto* job = child<QLineEdit>(window, "History_job");
    job->setText("A-1");
    emit job->editingFinished();
    EXPECT_EQ(column(*table, "job"), (Lines{"A-1", "A-1"}));
    auto* tool = child<QComboBox>(window, "History_tool");
    choose(tool, tool->findText("kb90xx"));
    EXPECT_EQ(column(*table, "action"), (Lines{"write"}));
    choose(tool, 0);
    child<QDateEdit>(window, "History_since")->setDate(QDate(2024, 3, 2));
    child<QCheckBox>(window, "History_since_on")->setChecked(true);
    EXPECT_EQ(column(*table, "tool"), (Lines{"npce"}));
    child<QCheckBox>(window, "History_since_on")->setChecked(false);

    // Sizes sort as numbers, either way round: by their digits 10 would come before 9.
    const auto header = history::operationHeader();
    const int size = static_cast<int>(std::find(header.begin(), header.end(), "size") - header.begin());
    QHeaderView* captions = table->horizontalHeader();
    QTest::mouseClick(captions->viewport(), Qt::LeftButton, {},
                      QPoint(captions->sectionViewportPosition(size) + 4, captions->height() / 2));
    ASSERT_EQ(captions->sortIndicatorSection(), size);
    const bool ascending = captions->sortIndicatorOrder() == Qt::AscendingOrder;
    EXPECT_EQ(column(*table, "size"), (ascending ? Lines{"9", "10"} : Lines{"10", "9"}));

    const std::string csv = dir.file("history.csv");
    desktop.choices.push_back(QString::fromStdString(csv));
    child<QPushButton>(window, "History_export")->click();
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].defaultExt, ".csv");
    history::Store store;
    auto shown = store.operations({.job = "A-1"});
    ASSERT_TRUE(shown.ok());
    if (!ascending) std::reverse(shown->begin(), shown->end());  // newest first is the 9 bytes' read
    std::vector<std::vector<std::string>> fields;
    for (const auto& row : *shown) fields.push_back(history::operationFields(row));
    const std::string text = history::csvText(history::operationHeader(), fields);
    EXPECT_EQ(readFile(csv), Bytes(text.begin(), text.end()));
    EXPECT_NE(text.find("\"" + dir.file("a, \"\"b\"\".bin") + "\""), std::string::npos) << text;
    EXPECT_TRUE(desktop.errors.isEmpty());
}

}  // namespace
}  // namespace kjtest
