// The KB90xx window's cable help: which cable contact to wire to each of the
// programmer's lines A to E, from a motherboard's line of the connection base.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "common/connection_base.h"

namespace kj {
inline constexpr std::string_view kKb90xxBaseFile = "MB connection KB901X.txt";
// In the order the help line names them: programmer line A to E.
inline constexpr std::array<BaseKey, 5> kKb90xxBaseKeys{{
    {"KSO3=", "A"},
    {"KSI4=", "B"},
    {"KSI7=", "C"},
    {"KSI6=", "D"},
    {"KSI5=", "E"},
}};
inline constexpr std::array<std::string_view, 8> kKb90xxCableWidths{"18 pin", "20 pin", "24 pin", "25 pin",
                                                                    "26 pin", "28 pin", "30 pin", "32 pin"};

inline constexpr std::string_view kNoKb90xxBase = "Create base of connections KB90XX !";
inline constexpr std::string_view kBaseFormatError = "Error data format!";
inline constexpr std::string_view kCableTooNarrow = "Please select big pins FFC!";
inline constexpr std::string_view kConnectPrefix = "Please connect GND and: ";

struct CableHelp {
    enum class Kind {
        Connect,     // the help line
        Message,     // a message for the label
        ValueError,  // a malformed value: `text` is the error report; the label keeps its text
    };
    Kind kind;
    std::string text;
};

// What to create where the base is missing: the file searched and how its lines read.
std::string kb90xxNoBaseText(std::string_view searched);

// The cable width of a width chooser's text: its first two characters.
std::optional<int> cableWidthOf(std::string_view chooserText);

// The help for a base line, a cable width and the cable's orientation
// (`pin1ToPin1`: cable pin 1 on connector pin 1).
CableHelp kb90xxCableHelp(std::string_view line, int cableWidth, bool pin1ToPin1);

}  // namespace kj
