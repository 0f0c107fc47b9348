// The connection-base reader and line parser: any bytes decode, split and parse
// without fault, and a parsed line never yields a value outside its rule.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/connection_base.h"

namespace {
constexpr kj::BaseKey kKeys[] = {{"PD0=", "PD0"}, {"KSI4=", "KSI4"}, {"KB_pins=", "KB"}, {"=", "any"}};
constexpr kj::ValueRule kRule{1, 32};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = kj::decodeBaseText(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& line : kj::splitBaseLines(text)) {
        const kj::BaseLine parsed = kj::parseBaseLine(line, kKeys, kRule);
        for (int value : parsed.values) {
            if (value < kRule.min || value > kRule.max) std::abort();
        }
        for (const auto& key : kKeys) kj::baseValueText(line, key.key);
    }
    return 0;
}
