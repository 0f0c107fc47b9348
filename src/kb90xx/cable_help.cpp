#include "kb90xx/cable_help.h"

#include <algorithm>

namespace kj {

namespace {
// Pins are counted from 1; a two-character value stops at 99.
constexpr ValueRule kKb90xxPinRule{1, 99};
}  // namespace

std::string kb90xxNoBaseText(std::string_view searched) {
    return std::string(kNoKb90xxBase) + "\n" + std::string(searched) + "\nOne motherboard per line: <board name> " +
           baseKeysTemplate(kKb90xxBaseKeys);
}

std::optional<int> cableWidthOf(std::string_view chooserText) { return decimalValue(chooserText.substr(0, 2)); }

CableHelp kb90xxCableHelp(std::string_view line, int cableWidth, bool pin1ToPin1) {
    using Kind = CableHelp::Kind;
    const BaseLine parsed = parseBaseLine(line, kKb90xxBaseKeys, kKb90xxPinRule);
    if (parsed.status == BaseLine::Status::MissingKey) return {Kind::Message, std::string(kBaseFormatError)};
    if (parsed.status != BaseLine::Status::Ok) {
        return {Kind::ValueError, "'" + parsed.valueText + "' is not a valid pin number (" +
                                      std::string(kKb90xxBaseKeys[parsed.failedKey].key) + ")"};
    }
    if (std::ranges::any_of(parsed.values, [&](int pin) { return pin > cableWidth; }))
        return {Kind::Message, std::string(kCableTooNarrow)};
    std::string text(kConnectPrefix);
    for (size_t i = 0; i < kKb90xxBaseKeys.size(); ++i) {
        const int pin = parsed.values[i];
        const int contact = pin1ToPin1 ? pin : mirrorPin(pin, cableWidth);
        text += " " + std::string(kKb90xxBaseKeys[i].name) + std::to_string(contact);
    }
    return {Kind::Connect, std::move(text)};
}

}  // namespace kj
