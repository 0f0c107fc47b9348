#include "common/registry.h"
#include "console/console.h"

namespace kj::cli {

std::vector<const Tool*> tools() {
    return inFamilyPlaces<Tool>([](const Tool& tool) { return tool.family; });
}

const Tool* toolNamed(std::string_view name) {
    for (const Tool* tool : Registry<Tool>::entries()) {
        if (tool->name == name) return tool;
    }
    return nullptr;
}

}  // namespace kj::cli
