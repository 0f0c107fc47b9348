// Which bridge the program talks through: the FTDI ports of this machine, the
// ports named with --port, or the built-in simulated programmer.
#pragma once

#include <string>
#include <vector>

#include "link/bridge.h"

namespace kj {

struct BridgeChoice {
    bool simulate = false;
    std::vector<std::string> ports;
};

BridgeFactory makeBridgeFactory(const BridgeChoice& choice);

}  // namespace kj
