#include "sim/simulated_bridges.h"

#include "sim/bench.h"
#include "sim/sim_bridge.h"

namespace kjsim {

kj::BridgeFactory simulatedBridges() {
    return [](std::string_view family) -> std::unique_ptr<kj::Bridge> {
        // Kept as long as the window: what one operation writes, the next one reads back.
        const BenchOptions options{.family = std::string(family)};
        auto bridge = std::make_unique<SimBridge>();
        bridge->add(SimSlot::programmer(makeBench(options).programmer));
        return bridge;
    };
}

}  // namespace kjsim
