#include "sim/bridge_choice.h"

#include "link/system_bridge.h"
#include "sim/bench.h"
#include "sim/sim_bridge.h"

namespace kj {

BridgeFactory makeBridgeFactory(const BridgeChoice& choice) {
    if (choice.simulate) {
        return [](std::string_view family) -> std::unique_ptr<Bridge> {
            // A bench of its own per window, kept as long as the window: what one
            // operation writes, the next one reads back.
            bool known = false;
            kjsim::BenchOptions options;
            options.family = kjsim::familyByName(std::string(family), known);
            auto bridge = std::make_unique<kjsim::SimBridge>();
            bridge->add(kjsim::SimSlot::programmer(kjsim::makeBench(options).programmer));
            return bridge;
        };
    }
    if (!choice.ports.empty()) {
        return [ports = choice.ports](std::string_view) { return makePortBridge(ports); };
    }
    return [](std::string_view) { return makeSystemBridge(); };
}

}  // namespace kj
