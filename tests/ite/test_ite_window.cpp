// The ITE window offscreen: a board chosen from the base, mirrored and typed
// into, APPLY, the link check and a read through its buttons, with a save
// dialog that takes typed keys while the window is held; then EXIT.
#include "ite/ite_window.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "ite_fixture.h"
#include "sim/ite_chip.h"
#include "sim/sim_bridge.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

const std::string kBoard =
    "LA-1 PD0=1 PD1=2 PD2=3 PD3=4 PD4=5 PD5=6 PD6=7 PD7=8 BUSY=9 STB=10 AFD=11 INIT=12 "
    "SLIN=13 KSI4=14 KSI5=15 KB_pins=30";

// A save dialog the user types a name into: keys go to its window, as the
// window system delivers them, while the window behind it is held busy.
class TypingDesktop : public ScriptedDesktop {
public:
    std::string folder;
    std::optional<QString> runFileDialog(QWidget* parent, const kj::FileDialogSpec& spec,
                                         const std::function<void()>& canClose) override {
        dialogs.push_back(spec);
        QDialog dialog(parent);
        auto* name = new QLineEdit(&dialog);
        (new QVBoxLayout(&dialog))->addWidget(name);
        QObject::connect(name, &QLineEdit::returnPressed, &dialog, &QDialog::accept);
        QTimer::singleShot(0, &dialog, [&] {
            dialog.activateWindow();
            name->setFocus();
            for (Qt::Key key : {Qt::Key_I, Qt::Key_T, Qt::Key_E, Qt::Key_Return})
                QTest::keyClick(dialog.windowHandle(), key);
        });
        QTimer::singleShot(kWindowHangBoundMs, &dialog, &QDialog::reject);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        canClose();
        return QString::fromStdString(folder) + "/" + name->text() + ".bin";
    }
};

class IteWindow : public ::testing::Test {
protected:
    IteWindow()
        : bench_(kjsim::makeBench(iteBench())),
          slot_(kjsim::SimSlot::programmer(bench_.programmer)),
          context_{kjsim::bridgesTo(slot_), desktop_} {
        desktop_.folder = dir_.path().string();
        launcher_ = std::make_unique<QWidget>();
    }

    void writeBase(const std::string& text) {
        const fs::path path = dir_.path() / "korvel-jig" / "MB connection IT85XX.txt";
        fs::create_directories(path.parent_path());
        writeFile(path.string(), Bytes(text.begin(), text.end()));
    }
    std::unique_ptr<kj::IteWindow> makeWindow() {
        auto window = std::make_unique<kj::IteWindow>(context_, launcher_.get());
        launcher_->hide();
        window->show();
        return window;
    }
    static QStringList memo(const kj::IteWindow& window) {
        return child<QPlainTextEdit>(window, "ITE_Memo1")->toPlainText().split('\n');
    }

    ScratchDir dir_;
    DataHome dataHome_{dir_.path()};
    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    TypingDesktop desktop_;
    kj::AppContext context_;
    std::unique_ptr<QWidget> launcher_;
};

TEST_F(IteWindow, BoardApplyCheckAndReadThroughTheButtons) {
    writeBase(kBoard + "\r\nLA-2 PD0=1 PD1=2 PD2=3 PD3=4 PD4=5 PD5=6 PD6=7 PD7=8 BUSY=9 AFD=11\n");
    auto window = makeWindow();
    auto* boards = child<QComboBox>(*window, "ITE_ComboBox_MB_SWITCH");
    ASSERT_EQ(boards->count(), 3);
    EXPECT_EQ(boards->itemText(0), "Кликни для выбора готовых настроек под конкретную MB");
    EXPECT_EQ(memo(*window).size(), 17);  // the instructions

    // A line that stops at STB#: what was read before stays, the box stays off.
    choose(boards, 2);
    EXPECT_EQ(memo(*window).back(), "Не найдена информация по номеру ножки для STB# !");
    EXPECT_EQ(child<QComboBox>(*window, "ComboBox13")->currentText(), "9");  // BUSY
    EXPECT_FALSE(child<QCheckBox>(*window, "ITE_CheckBox")->isEnabled());

    choose(boards, 1);
    ASSERT_TRUE(child<QCheckBox>(*window, "ITE_CheckBox")->isEnabled());
    child<QCheckBox>(*window, "ITE_CheckBox")->click();  // reversed: pin n becomes 31 - n
    EXPECT_EQ(child<QComboBox>(*window, "ComboBox1")->currentText(), "30");

    // Typed text is matched to the list; text that names no entry goes back.
    auto* pd1 = child<QComboBox>(*window, "ComboBox2")->lineEdit();
    pd1->setText("nc");
    emit pd1->editingFinished();
    pd1->setText("7x");
    emit pd1->editingFinished();
    EXPECT_EQ(child<QComboBox>(*window, "ComboBox2")->currentText(), "NC");
    child<QComboBox>(*window, "ComboBox3")->lineEdit()->setText("05");  // left typed: APPLY takes it

    ASSERT_TRUE(clickAndSettle(child<QPushButton>(*window, "ITE_SETUP_BitBtn"), *window));
    const auto routing = bench_.chip<kjsim::IteChip>().routing();
    EXPECT_EQ(routing.at("d0"), 30);
    EXPECT_EQ(routing.at("d1"), 0);
    EXPECT_EQ(routing.at("d2"), 5);
    EXPECT_EQ(routing.at("IN"), 19);
    ASSERT_TRUE(clickAndSettle(child<QPushButton>(*window, "ITE_CHECK_CON_BitBtn"), *window));
    EXPECT_EQ(memo(*window).back(), "Найден ID мульта -> 8512 ревизия -> 03");

    // The read: the dialog is typed into while the preparation holds the window.
    bench_.programmer->faults.replyDelay = kj::Millis{2};
    child<QPushButton>(*window, "ITE_READ_BitBtn")->click();
    ASSERT_TRUE(begun(window->tool().operation(), "READ_ITE"));
    EXPECT_TRUE(child<QPushButton>(*window, "ITE_READ_BitBtn")->isEnabled());
    for (auto* button :
         {child<QPushButton>(*window, "ITE_CHECK_CON_BitBtn"), child<QPushButton>(*window, "ITE_WRITE_BitBtn"),
          child<QPushButton>(*window, "ITE_SETUP_BitBtn"), child<QPushButton>(*window, "ITE_EXIT_BitBtn")})
        EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    window->close();  // EXIT while a read runs does nothing
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(runUntil([&] { return window->tool().operation().idle(); }, kWindowHangBoundMs));
    EXPECT_EQ(readFile(dir_.file("ite.bin")), bench_.chip<kjsim::IteChip>().flash());
    EXPECT_EQ(child<kj::Gauge>(*window, "ITE_CGauge1")->progress(), 512);
    EXPECT_TRUE(child<QPushButton>(*window, "ITE_SETUP_BitBtn")->isEnabled());

    child<QPushButton>(*window, "ITE_EXIT_BitBtn")->click();
    EXPECT_TRUE(launcher_->isVisible());
    EXPECT_TRUE(child<QPlainTextEdit>(*window, "ITE_Memo1")->toPlainText().isEmpty());
    EXPECT_EQ(child<kj::Gauge>(*window, "ITE_CGauge1")->progress(), 0);
}

TEST_F(IteWindow, WithoutABaseTheChooserSaysSoInRed) {
    auto window = makeWindow();
    auto* boards = child<QComboBox>(*window, "ITE_ComboBox_MB_SWITCH");
    ASSERT_EQ(boards->count(), 1);
    // The folder searched on this machine (on Windows the root of drive C:,
    // where a missing base is last looked for), and how a line of the base reads.
#ifdef _WIN32
    const std::string searched = "в корне диска C:";
#else
    const std::string searched = "в папке " + (dir_.path() / "korvel-jig").string();
#endif
    EXPECT_EQ(boards->itemText(0).toStdString(),
              "Файл [MB connection IT85XX.txt] " + searched + " со значениями не найден ! Прочтите инструкцию.");
    EXPECT_EQ(boards->palette().color(QPalette::ButtonText), QColor(Qt::red));
    EXPECT_EQ(memoLines(child<QPlainTextEdit>(*window, "ITE_Memo1")).back(),
              "Строка базы, одна MB на строку: <название MB> KB_pins=nn PD0=nn PD1=nn PD2=nn PD3=nn PD4=nn PD5=nn "
              "PD6=nn PD7=nn BUSY=nn STB=nn AFD=nn INIT=nn SLIN=nn KSI4=nn KSI5=nn");
}

}  // namespace
}  // namespace kjtest
