#include "app/bridge_choice.h"

#include "link/serial_bridge.h"
#include "sim/sim_bridge.h"

namespace kj {

BridgeFactory makeBridgeFactory(const BridgeChoice& choice) {
    if (choice.simulate) {
        return [](std::string_view family) -> std::unique_ptr<Bridge> {
            bool known = false;
            const auto f = kjsim::familyByName(std::string(family), known);
            auto programmer = std::make_shared<kjsim::Programmer>(known ? f : kjsim::Family::V41);
            auto bridge = std::make_unique<kjsim::SimBridge>();
            bridge->add(kjsim::SimSlot::programmer(programmer));
            return bridge;
        };
    }
    if (!choice.ports.empty()) {
        return [ports = choice.ports](std::string_view) -> std::unique_ptr<Bridge> {
            return std::make_unique<SerialBridge>(ports);
        };
    }
    return [](std::string_view) -> std::unique_ptr<Bridge> { return std::make_unique<SerialBridge>(); };
}

}  // namespace kj
