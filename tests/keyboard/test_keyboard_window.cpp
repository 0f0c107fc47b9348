// The keyboard tester window, offscreen: its cells and controls, and a scan
// driven by its buttons and paced by the tester's own clock.
#include <gtest/gtest.h>
#include <QTest>

#include "keyboard/keyboard_window.h"
#include "keyboard_fixture.h"
#include "link/port_list.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

using kj::CellColour;
using kj::Shape;

const QColor kAquaBrush(0, 255, 255);
const QColor kRedBrush(255, 0, 0);
const QColor kYellowBrush(255, 255, 0);

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
    ScriptedDesktop desktop;
    kj::AppContext context{[this](std::string_view) { return bench.bridge(); }, desktop};
    QWidget launcher;
    std::unique_ptr<kj::KeyboardWindow> window;
};

int cellLeft(int b) { return 24 * (b - 1) + 8 * ((b - 1) / 5); }
int cellTop(int a) { return 16 + 24 * a + 8 * ((a - 1) / 5); }

TEST_F(KeyboardWindow, CellsAndControlsAreWhereTheFormPutsThem) {
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

TEST_F(KeyboardWindow, ScanTogglesCellsClearResetsThemAndExitStopsBeforeLeaving) {
    bench.script({kExampleReport});

    child<QPushButton>(*window, "START_SCAN")->click();
    ASSERT_TRUE(begun(window->tester().operation(), kj::kKeyboardScanning));
    ASSERT_TRUE(runUntil([&] { return window->tester().pacing(); }));

    EXPECT_EQ(linesOf(child<QPlainTextEdit>(*window, "Memo_keyboard")), kKeyboardLinkLines);
    EXPECT_FALSE(child<QPushButton>(*window, "START_SCAN")->isEnabled());
    EXPECT_EQ(child<QPushButton>(*window, "EXIT_KB_TEST")->text(), "STOP");
    EXPECT_TRUE(window->tester().pacing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return exampleIs(kRedBrush); }, kWait));
    EXPECT_EQ(cellsNot(kAquaBrush), 3);

    // The clock keeps the requests coming, one lone '&' after another.
    const size_t requests = bench.chip().requests();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench.chip().requests() > requests + 1; }, kWait));
    EXPECT_EQ(bench.chip().beeps(), 1u);

    child<QPushButton>(*window, "Clear")->click();
    EXPECT_EQ(cellsNot(kAquaBrush), 0);
    bench.script({kExampleReport});
    ASSERT_TRUE(QTest::qWaitFor([&] { return exampleIs(kRedBrush); }, kWait));  // from aqua, not yellow

    child<QPushButton>(*window, "EXIT_KB_TEST")->click();
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanEnded(); }, kWait));
    EXPECT_FALSE(window->tester().pacing());
    EXPECT_EQ(bench.written().back(), 'Q');
    EXPECT_FALSE(bench.slot->isOpen());
    EXPECT_TRUE(window->isVisible());
    // The scan ends with the pairs it saw, each once, as the command line lists them.
    auto lines = kKeyboardLinkLines;
    lines.push_back("Closed pairs: 1-2 1-5 3-4");
    EXPECT_EQ(linesOf(child<QPlainTextEdit>(*window, "Memo_keyboard")), lines);

    child<QPushButton>(*window, "EXIT_KB_TEST")->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(launcher.isVisible());
    EXPECT_TRUE(exampleIs(kRedBrush));  // colours stay until Clear
}

// Each cell names its pair, and the legend says what red and yellow mean.
TEST_F(KeyboardWindow, CellsNameTheirPairsAndTheLegendTheColours) {
    for (int a = 1; a < 32; ++a) {
        for (int b = a + 1; b <= 32; ++b)
            EXPECT_EQ(window->cell(a, b)->toolTip(), QString("Lines %1-%2").arg(a).arg(b));
    }
    for (const char* colour : {"red", "yellow"}) {
        const auto* entry = window->findChild<QLabel*>(QString("Legend_") + colour);
        ASSERT_NE(entry, nullptr) << colour;
        EXPECT_TRUE(entry->isVisible()) << colour;
        EXPECT_TRUE(entry->text().startsWith(QString(colour) + ": ")) << entry->text().toStdString();
    }
}

TEST_F(KeyboardWindow, NoSoundBoxMutesTheSignal) {
    child<QCheckBox>(*window, "Buzzer_box")->setChecked(true);
    bench.script({kExampleReport, kExampleReport});

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
    ASSERT_TRUE(QTest::qWaitFor([&] { return exampleIs(kRedBrush); }, kWait));
    window.reset();
    EXPECT_EQ(bench.written().back(), 'Q');
    EXPECT_EQ(bench.chip().quits(), 1u);
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
