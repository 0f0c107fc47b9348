#include <algorithm>

#include "common/registry.h"
#include "console/console.h"

namespace kj::cli {

std::vector<const Tool*> tools() {
    std::vector<const Tool*> all = Registry<Tool>::entries();
    const auto place = [](const Tool* tool) { return tool->family ? tool->family->place : -1; };
    std::stable_sort(all.begin(), all.end(), [&](const Tool* a, const Tool* b) { return place(a) < place(b); });
    return all;
}

const Tool* toolNamed(std::string_view name) {
    for (const Tool* tool : Registry<Tool>::entries()) {
        if (tool->name == name) return tool;
    }
    return nullptr;
}

}  // namespace kj::cli
