// The keyboard report parser: every pair it names has a cell.
#include <cstdint>
#include <cstdlib>

#include "keyboard/keyboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const auto& pair : kj::reportPairs(std::span<const uint8_t>(data, size))) {
        if (kj::cellNumber(pair.a, pair.b) == 0) std::abort();
    }
    return 0;
}
