// The keyboard tester window, offscreen on a laptop's screen and a larger one:
// its cells and controls, a scan driven by its buttons and paced by the
// tester's own clock, shorts, and a keyboard profile learnt and used.
#include <gtest/gtest.h>
#include <QTest>

#include <QGuiApplication>
#include <QScreen>
#include <fstream>

#include "common/journal.h"
#include "keyboard/keyboard_window.h"
#include "keyboard_fixture.h"
#include "link/port_list.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

// The screens the build describes, set before the application starts: a
// laptop's, less its panel and title bar, and a larger one beside it.
[[maybe_unused]] const bool kScreens = [] {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + KJ_SCREENS);
    return true;
}();
const QRect kLaptopRoom(0, 0, 1366, 768 - 80);

using kj::CellColour;
using kj::Shape;

const QColor kAquaBrush(0, 255, 255);
const QColor kRedBrush(255, 0, 0);
const QColor kYellowBrush(255, 255, 0);
const QColor kShortBrush(255, 0, 255);

std::vector<std::string> linesOf(const QPlainTextEdit* memo) {
    const QString text = memo->toPlainText();
    if (text.isEmpty()) return {};
    std::vector<std::string> lines;
    for (const auto& line : text.split('\n')) lines.push_back(line.toStdString());
    return lines;
}

constexpr int kWait = 5000;  // ms; only catches hangs

class KeyboardWindow : public testing::Test {
protected:
    KeyboardWindow() {
        window = std::make_unique<kj::KeyboardWindow>(context, &launcher);
        window->show();
    }
    QPlainTextEdit* log() const { return child<QPlainTextEdit>(*window, "Memo_keyboard"); }
    std::vector<std::string> listed() const {
        std::vector<std::string> items;
        const auto* list = child<QListWidget>(*window, "Closed_pairs");
        for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
        return items;
    }
    QString keysLeft() const {
        const auto* label = child<QLabel>(*window, "Keys_left");
        return label->isVisible() ? label->text() : QString();
    }
    ~KeyboardWindow() override {
        window.reset();  // stops a scan still running
        EXPECT_FALSE(bench.slot->isOpen());
    }

    QColor brush(int a, int b) const { return window->cell(a, b)->brushColor(); }
    bool exampleIs(const QColor& colour) const {
        return brush(1, 2) == colour && brush(1, 5) == colour && brush(3, 4) == colour;
    }
    int cellsNot(const QColor& colour) const {
        int n = 0;
        for (auto* shape : window->findChildren<kj::Shape*>()) n += shape->brushColor() != colour;
        return n;
    }
    bool scanEnded() const {
        return window->tester().operation().waitIdle(kj::Millis{0}) &&
               child<QPushButton>(*window, "START_SCAN")->isEnabled() &&
               child<QPushButton>(*window, "EXIT_KB_TEST")->text() == "EXIT";
    }

    KeyboardBench bench;
    ScratchDir data;
    DataHome home{data.path()};
    ScriptedDesktop desktop;
    kj::AppContext context{[this](std::string_view) { return bench.bridge(); }, desktop};
    QWidget launcher;
    std::unique_ptr<kj::KeyboardWindow> window;
};

int cellLeft(int b) { return 24 * (b - 1) + 8 * ((b - 1) / 5); }
int cellTop(int a) { return 16 + 24 * a + 8 * ((a - 1) / 5); }

// Where the screen has room for the form.
TEST_F(KeyboardWindow, CellsAndControlsAreWhereTheFormPutsThem) {
    QScreen* large = nullptr;
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == "desktop") large = screen;
    ASSERT_NE(large, nullptr);
    window = std::make_unique<kj::KeyboardWindow>(context, &launcher);
    window->setScreen(large);
    window->show();
    ASSERT_EQ(window->screen(), large);
    EXPECT_EQ(window->windowTitle(), "Keyboard_testing");
    // The form's area; the window scrolls it where the screen is smaller.
    EXPECT_EQ(window->canvas()->size(), QSize(888, 879));
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);

    const auto shapes = window->findChildren<kj::Shape*>();
    EXPECT_EQ(shapes.size(), kj::kKeyboardCells);
    for (int a = 1; a < 32; ++a) {
        for (int b = a + 1; b <= 32; ++b) {
            const kj::Shape* shape = window->cell(a, b);
            ASSERT_NE(shape, nullptr) << a << "-" << b;
            EXPECT_EQ(shape->objectName(), QString("Shape%1").arg((a - 1) * 32 + b));
            EXPECT_EQ(shape->geometry(), QRect(cellLeft(b), cellTop(a), 17, 15)) << a << "-" << b;
            EXPECT_EQ(shape->brushColor(), kAquaBrush);
        }
    }
    EXPECT_EQ(window->findChild<kj::Shape*>("Shape2")->geometry(), QRect(24, 40, 17, 15));
    EXPECT_EQ(window->findChild<kj::Shape*>("Shape68")->geometry(), QRect(72, 88, 17, 15));
    EXPECT_EQ(window->findChild<kj::Shape*>("Shape992")->geometry(), QRect(792, 808, 17, 15));
    EXPECT_EQ(window->findChild<kj::Shape*>("Shape33"), nullptr);
    EXPECT_EQ(window->cell(2, 2), nullptr);

    EXPECT_EQ(child<QLabel>(*window, "Label_keybord")->text(),
              "2       6        11        16        21        26        31");
    const std::vector<std::pair<QLabel*, int>> rows = {
        {child<QLabel>(*window, "Label1"), 1},  {child<QLabel>(*window, "Label2"), 6},
        {child<QLabel>(*window, "Label3"), 11}, {child<QLabel>(*window, "Label4"), 16},
        {child<QLabel>(*window, "Label5"), 21}, {child<QLabel>(*window, "Label7"), 26},
        {child<QLabel>(*window, "Label8"), 31}};
    for (const auto& [label, row] : rows) {
        EXPECT_EQ(label->text(), QString::number(row));
        // Level with its row, right of the grid.
        EXPECT_TRUE(label->geometry().contains(label->geometry().left() + 1, cellTop(row) + 7)) << row;
        EXPECT_GT(label->geometry().left(), cellLeft(32) + 17);
    }
    EXPECT_EQ(child<QPushButton>(*window, "START_SCAN")->text(), "START SCAN");
    EXPECT_EQ(child<QPushButton>(*window, "EXIT_KB_TEST")->text(), "EXIT");
    EXPECT_EQ(child<QPushButton>(*window, "Clear")->text(), "Clear");
    EXPECT_EQ(child<QCheckBox>(*window, "Buzzer_box")->text(), " No sound");
    EXPECT_FALSE(child<QCheckBox>(*window, "Buzzer_box")->isChecked());
    EXPECT_TRUE(child<QPlainTextEdit>(*window, "Memo_keyboard")->isReadOnly());
    EXPECT_EQ(window->tester().tickInterval, kj::Millis{100});
    EXPECT_FALSE(window->tester().pacing());
    EXPECT_TRUE(window->tester().operation().idle());

    // The numbers cover no cell and fit the form; the controls stay in the
    // window outside the scrolled form, so that a small screen never hides them.
    for (QWidget* label : {static_cast<QWidget*>(child<QLabel>(*window, "Label_keybord")),
                           static_cast<QWidget*>(child<QLabel>(*window, "Label1")),
                           static_cast<QWidget*>(child<QLabel>(*window, "Label8"))}) {
        EXPECT_TRUE(window->canvas()->rect().contains(label->geometry())) << label->objectName().toStdString();
        for (const kj::Shape* shape : shapes) {
            EXPECT_FALSE(label->geometry().intersects(shape->geometry()))
                << label->objectName().toStdString() << " covers " << shape->objectName().toStdString();
        }
    }
    const std::vector<QWidget*> controls = {
        child<QPushButton>(*window, "START_SCAN"), child<QPushButton>(*window, "Clear"),
        child<QCheckBox>(*window, "Buzzer_box"), child<QPlainTextEdit>(*window, "Memo_keyboard"),
        child<QPushButton>(*window, "EXIT_KB_TEST")};
    for (QWidget* control : controls) {
        EXPECT_FALSE(window->canvas()->isAncestorOf(control)) << control->objectName().toStdString();
        EXPECT_TRUE(window->rect().contains(QRect(control->mapTo(window.get(), QPoint()), control->size())))
            << control->objectName().toStdString();
    }
}

// On a laptop's screen the rows close up: every cell, and the column numbers
// over them, in sight without scrolling; the corner of closed pairs covers none.
TEST_F(KeyboardWindow, OnALaptopScreenEveryRowAndTheColumnNumbersAreInSight) {
    ASSERT_EQ(window->screen()->availableGeometry(), kLaptopRoom);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_TRUE(kLaptopRoom.contains(window->frameGeometry()));
    const auto* numbers = child<QLabel>(*window, "Label_keybord");
    EXPECT_EQ(numbers->visibleRegion().boundingRect(), numbers->rect());
    const QRect pairsPanel = child<QWidget>(*window, "Pairs_panel")->geometry();
    for (auto* shape : window->findChildren<kj::Shape*>()) {
        EXPECT_EQ(shape->visibleRegion().boundingRect(), shape->rect()) << shape->objectName().toStdString();
        EXPECT_FALSE(pairsPanel.intersects(shape->geometry())) << shape->objectName().toStdString();
    }
    // Still a row a line, with a wider gap after every fifth.
    const auto top = [&](int a) { return window->cell(a, 32)->y(); };
    const int pitch = top(2) - top(1);
    EXPECT_GE(pitch, 17);
    for (int a = 2; a < 32; ++a) EXPECT_EQ(top(a) - top(a - 1), (a - 1) % 5 == 0 ? pitch + pitch / 3 : pitch) << a;
}

// The pairs are listed as they close; the first report's are shorts, apart in
// their own colour; the summary at the end reaches the record.
TEST_F(KeyboardWindow, ScanTogglesCellsClearResetsThemAndExitStopsBeforeLeaving) {
    ScratchDir logs;
    kj::journal::start(logs.path());
    bench.chip().setFaults({.shortedLines = std::pair<uint8_t, uint8_t>{7, 9}});
    bench.script({kNothing, kExampleReport});

    child<QPushButton>(*window, "START_SCAN")->click();
    ASSERT_TRUE(begun(window->tester().operation(), kj::kKeyboardScanning));
    ASSERT_TRUE(runUntil([&] { return window->tester().pacing(); }));

    EXPECT_EQ(linesOf(log()), kKeyboardLinkLines);
    EXPECT_FALSE(child<QPushButton>(*window, "START_SCAN")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*window, "Learn")->isEnabled());
    EXPECT_EQ(child<QPushButton>(*window, "EXIT_KB_TEST")->text(), "STOP");
    ASSERT_TRUE(QTest::qWaitFor([&] { return exampleIs(kRedBrush); }, kWait));
    EXPECT_EQ(brush(7, 9), kShortBrush);
    EXPECT_EQ(cellsNot(kAquaBrush), 4);
    EXPECT_EQ(listed(), (std::vector<std::string>{"7-9 short?", "1-2", "1-5", "3-4"}));

    // The clock keeps the requests coming, and the short closes a pair in
    // every report: each has its sound.
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench.chip().beeps() >= 4; }, kWait));

    child<QPushButton>(*window, "Clear")->click();
    EXPECT_EQ(cellsNot(kAquaBrush), 0);
    bench.script({kExampleReport});
    ASSERT_TRUE(QTest::qWaitFor([&] { return exampleIs(kRedBrush) && brush(7, 9) == kShortBrush; }, kWait));
    EXPECT_EQ(listed().size(), 4u);  // each pair once

    child<QPushButton>(*window, "EXIT_KB_TEST")->click();
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanEnded(); }, kWait));
    EXPECT_FALSE(window->tester().pacing());
    EXPECT_EQ(bench.written().back(), 'Q');
    EXPECT_FALSE(bench.slot->isOpen());
    EXPECT_TRUE(window->isVisible());
    // The scan ends with the pairs it saw, each once, as the command line lists them.
    const std::string summary = "Closed pairs: 1-2 1-5 3-4 7-9 short?";
    EXPECT_EQ(linesOf(log()), join({kKeyboardLinkLines, {summary}}));
    kj::journal::stop();
    std::ifstream record(logs.path() / (QDate::currentDate().toString(Qt::ISODate).toStdString() + ".log"));
    std::vector<std::string> recorded;
    for (std::string line; std::getline(record, line);) recorded.push_back(line);
    ASSERT_FALSE(recorded.empty());
    EXPECT_TRUE(recorded.back().ends_with(" keyboard | " + summary)) << recorded.back();

    child<QPushButton>(*window, "EXIT_KB_TEST")->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(launcher.isVisible());
    EXPECT_TRUE(exampleIs(kRedBrush));  // colours stay until Clear
}

// Each cell names its pair, and the legend says what each colour means.
TEST_F(KeyboardWindow, CellsNameTheirPairsAndTheLegendTheColours) {
    for (int a = 1; a < 32; ++a) {
        for (int b = a + 1; b <= 32; ++b)
            EXPECT_EQ(window->cell(a, b)->toolTip(), QString("Lines %1-%2").arg(a).arg(b));
    }
    for (const char* colour : {"aqua", "red", "yellow", "short?"}) {
        const auto* entry = window->findChild<QLabel*>(QString("Legend_") + colour);
        ASSERT_NE(entry, nullptr) << colour;
        EXPECT_TRUE(entry->isVisible()) << colour;
        EXPECT_TRUE(entry->text().startsWith(QString(colour) + ": ")) << entry->text().toStdString();
    }
}

TEST_F(KeyboardWindow, NoSoundBoxMutesTheSignal) {
    child<QCheckBox>(*window, "Buzzer_box")->setChecked(true);
    bench.script({kNothing, kExampleReport, kExampleReport});

    child<QPushButton>(*window, "START_SCAN")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return exampleIs(kYellowBrush); }, kWait));
    child<QPushButton>(*window, "EXIT_KB_TEST")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanEnded(); }, kWait));

    EXPECT_EQ(bench.chip().beeps(), 0u);
    EXPECT_EQ(bench.written().find('I'), std::string::npos);
}

TEST_F(KeyboardWindow, ClosingTheWindowDuringAScanEndsIt) {
    bench.script({kExampleReport});
    child<QPushButton>(*window, "START_SCAN")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return exampleIs(kShortBrush); }, kWait));
    window.reset();
    EXPECT_EQ(bench.written().back(), 'Q');
    EXPECT_EQ(bench.chip().quits(), 1u);
}

// Learn asks for each key in turn and takes the pair it closes; Finish saves
// the profile under the model's name. Chosen again in a new window, it names
// the cells, the pairs as they close and the keys not pressed yet.
TEST_F(KeyboardWindow, ProfileIsLearntSavedAndUsedInTheNextScan) {
    const auto prompt = [&] { return child<QLabel>(*window, "Learn_prompt")->text(); };
    bench.script({kNothing, {'>', 1, 2, '&'}, {'>', 1, 2, 5, '&'}});
    child<QPushButton>(*window, "Learn")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompt() == "Press F2"; }, kWait));
    EXPECT_TRUE(child<QWidget>(*window, "Learn_box")->isVisible());
    child<QPushButton>(*window, "Skip")->click();
    EXPECT_EQ(prompt(), "Press F3");
    bench.script({{'>', 3, 4, '&'}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompt() == "Press F4"; }, kWait));
    EXPECT_EQ(listed(), (std::vector<std::string>{"Esc (1-2)", "F1 (1-5)", "F3 (3-4)"}));

    child<QPushButton>(*window, "Finish")->click();  // no name yet: nothing ends
    EXPECT_TRUE(window->tester().pacing());
    child<QLineEdit>(*window, "Model_name")->setText("Test G1");
    child<QPushButton>(*window, "Finish")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanEnded(); }, kWait));

    const auto file = data.path() / "korvel-jig" / "keyboards" / "Test_G1.txt";
    const auto bytes = readPath(file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "Esc=1-2\nF1=1-5\nF3=3-4\n");
    EXPECT_EQ(linesOf(log()), join({kKeyboardLinkLines,
                                    {"Closed pairs: Esc (1-2) F1 (1-5) F3 (3-4)",
                                     "Keyboard Test_G1: 3 keys learnt, saved in " + file.string() + "."}}));
    EXPECT_FALSE(child<QWidget>(*window, "Learn_box")->isVisible());
    EXPECT_EQ(child<QComboBox>(*window, "Keyboard_profile")->currentText(), "Test_G1");

    // As after a restart: a new window finds the profile among the saved ones.
    window = std::make_unique<kj::KeyboardWindow>(context, &launcher);
    window->show();
    auto* profiles = child<QComboBox>(*window, "Keyboard_profile");
    ASSERT_EQ(profiles->findText("Test_G1"), 1);
    choose(profiles, 1);
    EXPECT_EQ(window->cell(1, 5)->toolTip(), "F1: lines 1-5");
    EXPECT_EQ(window->cell(2, 5)->toolTip(), "Lines 2-5");
    EXPECT_EQ(keysLeft(), "Not pressed (3): Esc F1 F3");

    bench.script({kNothing, {'>', 1, 2, '&'}});
    child<QPushButton>(*window, "START_SCAN")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed() == std::vector<std::string>{"Esc (1-2)"}; }, kWait));
    EXPECT_EQ(keysLeft(), "Not pressed (2): F1 F3");
    child<QPushButton>(*window, "EXIT_KB_TEST")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanEnded(); }, kWait));
    EXPECT_EQ(linesOf(log()),
              join({kKeyboardLinkLines,
                    {"Keyboard Test_G1: 3 keys.", "Closed pairs: Esc (1-2)", "Keys not pressed: F1 F3"}}));
}

TEST(KeyboardWindowLink, NoProgrammerShowsOnlyTheLinkLineAndStaysIdle) {
    ScriptedDesktop desktop;
    kj::AppContext context{[](std::string_view) { return std::make_unique<kjsim::SimBridge>(); }, desktop};
    QWidget launcher;
    kj::KeyboardWindow window(context, &launcher);

    ASSERT_TRUE(clickAndSettle(child<QPushButton>(window, "START_SCAN"), window));

    EXPECT_EQ(linesOf(child<QPlainTextEdit>(window, "Memo_keyboard")),
              (std::vector<std::string>{"VCOM port is not found on the machine!", std::string(kj::kNoPortFix)}));
    EXPECT_TRUE(child<QPushButton>(window, "START_SCAN")->isEnabled());
    EXPECT_EQ(child<QPushButton>(window, "EXIT_KB_TEST")->text(), "EXIT");
    EXPECT_FALSE(window.tester().pacing());
    EXPECT_TRUE(window.tester().operation().idle());
}

}  // namespace
}  // namespace kjtest
