#include "link/com_bridge.h"
#include "link/d2xx_bridge.h"
#include "link/system_bridge.h"

namespace kj {

// FTDI's own library where its driver put it, else the COM ports.
std::unique_ptr<Bridge> makeSystemBridge() {
    if (auto d2xx = D2xxBridge::load()) return d2xx;
    return std::make_unique<ComBridge>();
}

std::unique_ptr<Bridge> makePortBridge(std::vector<std::string> ports) {
    return std::make_unique<ComBridge>(std::move(ports));
}

}  // namespace kj
