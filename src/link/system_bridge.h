// The bridges to this machine's own ports, whatever the system.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/bridge.h"

namespace kj {

// The FTDI devices found by the system's driver.
std::unique_ptr<Bridge> makeSystemBridge();
// Exactly these ports, as the user named them.
std::unique_ptr<Bridge> makePortBridge(std::vector<std::string> ports);

}  // namespace kj
