#include "operation/family.h"

#include "common/registry.h"

namespace kj {

std::vector<const Family*> families() {
    return inFamilyPlaces<Family>([](const Family& family) { return &family; });
}

const Family* findFamily(std::string_view name) {
    for (const Family* family : Registry<Family>::entries()) {
        if (family->name == name) return family;
    }
    return nullptr;
}

}  // namespace kj
