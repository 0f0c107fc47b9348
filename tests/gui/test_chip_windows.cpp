// The chip windows whose buttons follow a rule while they write, sampled from
// the click to the verdict through one write with a backup and a read-back:
// a chained action is one run to the window, and the buttons the write
// disables, and the job field, stay disabled all the way.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <functional>
#include <random>

#include "ite/ite_window.h"
#include "kb90xx/kb90xx_window.h"
#include "npce/npce_window.h"
#include "sim/bench.h"
#include "sim/sim_bridge.h"
#include "support/rig.h"
#include "support/scripted_desktop.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

struct WriteRule {
    const char* firmware;
    std::function<kj::ChipWindow*(kj::AppContext&, QWidget*)> make;
    const char* write;
    std::vector<const char*> disabled;
    // Long enough for the run to be looked at many times over, short enough
    // for a family that answers each byte to end within the bound.
    kj::Millis replyDelay{1};
};

template <class Window>
kj::ChipWindow* make(kj::AppContext& context, QWidget* launcher) {
    return new Window(context, launcher);
}

const std::vector<WriteRule> kRules{
    {.firmware = "V41",
     .make = make<kj::Kb90xxWindow>,
     .write = "KB901X_WRITE",
     .disabled = {"KB901X_READ", "EXIT_KB901X"}},
    {.firmware = "NPCE", .make = make<kj::NpceWindow>, .write = "NPCE_WRITE", .disabled = {"NPCE_READ", "EXIT_NPCE"}},
    {.firmware = "ITE",
     .make = make<kj::IteWindow>,
     .write = "ITE_WRITE_BitBtn",
     .disabled = {"ITE_CHECK_CON_BitBtn", "ITE_EXIT_BitBtn", "ITE_READ_BitBtn", "ITE_SETUP_BitBtn"},
     .replyDelay = kj::Millis{0}},
};

Bytes noise(size_t size) {
    std::mt19937 random(7);
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

bool verdictShown(const QWidget& window) {
    const auto* verdict = window.findChild<QLabel*>("Verdict");
    return verdict && verdict->isVisible();
}

TEST(ChipWindows, NoControlAWriteDisablesIsEverEnabledFromTheClickToTheVerdict) {
    for (const WriteRule& rule : kRules) {
        SCOPED_TRACE(rule.write);
        ScratchDir dir;
        DataHome home(dir.path());
        kjsim::BenchOptions options;
        options.family = rule.firmware;
        options.faults.replyDelay = rule.replyDelay;
        const kjsim::Bench bench = kjsim::makeBench(options);
        const auto slot = kjsim::SimSlot::programmer(bench.programmer);
        ScriptedDesktop desktop;
        kj::AppContext context{kjsim::bridgesTo(slot), desktop};
        QWidget launcher;
        const std::unique_ptr<kj::ChipWindow> window(rule.make(context, &launcher));
        window->show();
        const Bytes image = noise(window->family().imageSize);
        const std::string path = dir.file("in.bin");
        writeFile(path, image);
        desktop.choices.push_back(QString::fromStdString(path));

        std::vector<QWidget*> locked{child<QLineEdit>(*window, "Board_job")};
        for (const char* name : rule.disabled) locked.push_back(child<QPushButton>(*window, name));
        size_t samples = 0;
        std::map<std::string, size_t> enabled;
        // Up to the verdict, which the buttons' end follows.
        const auto sample = [&] {
            if (verdictShown(*window)) return;
            ++samples;
            for (QWidget* widget : locked) {
                if (widget->isEnabled()) ++enabled[widget->objectName().toStdString()];
            }
        };
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, sample);
        sampler.start(1);
        child<QPushButton>(*window, rule.write)->click();
        sample();
        ASSERT_TRUE(runUntil([&] { return verdictShown(*window); }));
        sampler.stop();

        EXPECT_TRUE(enabled.empty()) << ::testing::PrintToString(enabled) << " of " << samples << " samples";
        EXPECT_GT(samples, 100u);
        // A pass of a write the window verifies: it was read back, after a backup.
        EXPECT_EQ(child<QLabel>(*window, "Verdict")->text(), "PASSED");
        EXPECT_EQ(std::distance(fs::directory_iterator(kj::backupFolder(window->family())), fs::directory_iterator()),
                  1);
        const kjsim::ChipEntry* flash = kjsim::flashChipOf(rule.firmware);
        ASSERT_NE(flash, nullptr);
        EXPECT_EQ(kjsim::toolImage(*flash, *bench.chip(flash->name)), image);
        ASSERT_TRUE(settle(*window));
        for (const char* name : rule.disabled) EXPECT_TRUE(child<QPushButton>(*window, name)->isEnabled()) << name;
    }
}

}  // namespace
}  // namespace kjtest
