#include "link/bridge_choice.h"

#include "link/system_bridge.h"

namespace kj {

BridgeFactory portBridges(std::vector<std::string> ports) {
    return [ports = std::move(ports)](std::string_view) -> std::unique_ptr<Bridge> {
        return ports.empty() ? makeSystemBridge() : makePortBridge(ports);
    };
}

}  // namespace kj
