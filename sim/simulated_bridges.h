// The built-in simulated programmer as the program's bridge (--simulate).
#pragma once

#include "link/bridge.h"

namespace kjsim {

// A bench of its own per window, with the family's standard chips.
kj::BridgeFactory simulatedBridges();

}  // namespace kjsim
