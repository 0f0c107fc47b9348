#include "operation/family.h"

#include <algorithm>

#include "common/registry.h"

namespace kj {

std::vector<const Family*> families() {
    std::vector<const Family*> all = Registry<Family>::entries();
    std::stable_sort(all.begin(), all.end(), [](const Family* a, const Family* b) { return a->place < b->place; });
    return all;
}

const Family* findFamily(std::string_view name) {
    for (const Family* family : Registry<Family>::entries()) {
        if (family->name == name) return family;
    }
    return nullptr;
}

}  // namespace kj
