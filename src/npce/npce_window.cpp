#include "npce/npce_window.h"

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{npce::kFamily, makeToolWindow<TNPCE_FORM>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kMemoPixels = 13;
}  // namespace

TNPCE_FORM::TNPCE_FORM(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("NPCE288N/388N 16_05_2016"), npce::kFamily) {
    setObjectName("TNPCE_FORM");
    makeButtons({
        {&NPCE_READ, "NPCE_READ", "Nuvoton_READ", [this] { NPCE_READClick(); }, kReadColour},
        {&NPCE_WRITE, "NPCE_WRITE", "Nuvoton_WRITE", [this] { NPCE_WRITEClick(); }, kWriteColour},
        {&EXIT_NPCE, "EXIT_NPCE", "EXIT", [this] { EXIT_NPCEClick(); }},
    });
    NPCE_Memo = makeLog("NPCE_Memo", kMemoPixels);
    const auto gauges = makeGauges({{&CGauge_NPCE, "CGauge_NPCE", npce::kGaugeMax}});
    layOut(nullptr, NPCE_Memo, gauges, {NPCE_READ, NPCE_WRITE}, EXIT_NPCE);
    resize(640, 480);
    attachFrontend(NPCE_Memo, gauges,
                   lockingButtons({{npce::kReading, NPCE_READ}, {npce::kWriting, NPCE_WRITE}},
                                  {.saveCanClose = [this] { SaveDialog_NPCECanClose(); },
                                   .openCanClose = [this] { OpenDialog_NPCECanClose(); }}));
    programmer_ = std::make_unique<NpceProgrammer>(bridge(), frontend());
}

void TNPCE_FORM::NPCE_READClick() { programmer_->startRead(); }

void TNPCE_FORM::NPCE_WRITEClick() { programmer_->startWrite(); }

// The button is disabled while an operation runs; a close request may still come.
void TNPCE_FORM::EXIT_NPCEClick() {
    if (!programmer_->operation().idle()) return;
    showLauncherAndHide();
}

void TNPCE_FORM::SaveDialog_NPCECanClose() { setDialogConfirmed(); }

void TNPCE_FORM::OpenDialog_NPCECanClose() { setDialogConfirmed(); }

}  // namespace kj
