// The built-in simulated programmer as the program's bridge (--simulate).
#pragma once

#include "link/bridge.h"

namespace kjsim {

// A bench of its own per window, with the family's standard chips. Their
// flash is kept in <data folder>/simulator/ between runs: each link takes the
// chips as the last one left them, and leaves them there when it closes, so
// that a verify in one run sees the write of another. `fresh`: the chips
// start from their defaults, once in this run.
kj::BridgeFactory simulatedBridges(bool fresh = false);

}  // namespace kjsim
