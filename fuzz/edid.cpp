// The EDID decoder and its hex-text reader: whatever a file holds, they end,
// and the summary of a decoded image always has its header line.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "edid/edid_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const auto lines = kj::describeEdid(kj::decodeEdid(bytes));
    if (lines.empty()) std::abort();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto edid = kj::edidFromHexText(text)) {
        if (edid->size() < 8 || (*edid)[0] != 0x00 || (*edid)[1] != 0xFF) std::abort();
        kj::describeEdid(kj::decodeEdid(*edid));
    }
    std::vector<uint8_t> image(bytes.begin(), bytes.end());
    kj::fixChecksums(image);
    return 0;
}
