#include "npce/npce_window.h"

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{npce::kFamily, makeToolWindow<NpceWindow>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kMemoPixels = 13;
}  // namespace

NpceWindow::NpceWindow(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("NPCE288N/388N 16_05_2016"), npce::kFamily) {
    setObjectName("TNPCE_FORM");
    makeButtons({
        {&readButton_, "NPCE_READ", "Nuvoton_READ", [this] { onRead(); }, kReadColour},
        {&writeButton_, "NPCE_WRITE", "Nuvoton_WRITE", [this] { onWrite(); }, kWriteColour},
        {&exitButton_, "EXIT_NPCE", "EXIT", [this] { onExit(); }},
    });
    log_ = makeLog("NPCE_Memo", kMemoPixels);
    const auto gauges = makeGauges({{&gauge_, "CGauge_NPCE", npce::kGaugeMax}});
    layOut(nullptr, log_, gauges, {readButton_, writeButton_}, exitButton_);
    resize(640, 480);
    attachFrontend(log_, gauges, lockingButtons({readButton_, writeButton_}));
}

void NpceWindow::onRead() { tool().startRead(); }

void NpceWindow::onWrite() { tool().startWrite(); }

// The button is disabled while an operation runs; a close request may still come.
void NpceWindow::onExit() {
    if (!tool().operation().idle()) return;
    showLauncherAndHide();
}

}  // namespace kj
