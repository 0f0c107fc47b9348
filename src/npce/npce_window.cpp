#include "npce/npce_window.h"

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{npce::kFamily, makeToolWindow<NpceWindow>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

NpceWindow::NpceWindow(AppContext& context, QWidget* launcher) : ChipWindow(context, launcher, npce::kFamily) {
    build({
        .name = "TNPCE_FORM",
        .caption = QStringLiteral("NPCE288N/388N 16_05_2016"),
        .buttons =
            {
                {.name = "NPCE_READ", .caption = "Nuvoton_READ", .does = Does::Read, .colour = kReadColour},
                {.name = "NPCE_WRITE", .caption = "Nuvoton_WRITE", .does = Does::Write, .colour = kWriteColour},
                // Disabled while an operation runs; a close request is ignored meanwhile.
                {.name = "EXIT_NPCE", .caption = "EXIT", .does = Does::Exit},
            },
        .log = {.name = "NPCE_Memo"},
        .gauges = {{.name = "CGauge_NPCE", .maximum = npce::kGaugeMax}},
        .size = {640, 480},
        .locks = true,
    });
}

}  // namespace kj
