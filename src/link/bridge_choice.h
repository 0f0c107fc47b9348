// The bridge to the programmer on this machine: the FTDI ports found, or
// exactly the ports named with --port.
#pragma once

#include <string>
#include <vector>

#include "link/bridge.h"

namespace kj {

// What the user asked for: the simulated programmer (which the caller supplies) or ports.
struct BridgeChoice {
    bool simulate = false;
    bool fresh = false;  // the simulated chips start from their defaults, not as the last run left them
    std::vector<std::string> ports;
};

// An empty list: the FTDI ports found, in the link procedure's order.
BridgeFactory portBridges(std::vector<std::string> ports);

}  // namespace kj
