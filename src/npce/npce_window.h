// The NPCE288N/388N window: read and write buttons over the core's operations,
// a log that keeps every operation's lines, and the gauge of the current stream.
#pragma once

#include "gui/chip_window.h"
#include "npce/npce.h"

namespace kj {

class NpceWindow : public ChipWindow {
    Q_OBJECT
public:
    NpceWindow(AppContext& context, QWidget* launcher);
};

}  // namespace kj
