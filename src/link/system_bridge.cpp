#include "link/system_bridge.h"

#include "link/serial_bridge.h"

namespace kj {

std::unique_ptr<Bridge> makeSystemBridge() { return std::make_unique<SerialBridge>(); }

std::unique_ptr<Bridge> makePortBridge(std::vector<std::string> ports) {
    return std::make_unique<SerialBridge>(std::move(ports));
}

}  // namespace kj
