// The ITE window's pin routing: which keyboard-connector line carries each of
// the controller's fifteen programming signals, as the selectors, the
// motherboard connection base and the mirroring for a reversed cable see it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/connection_base.h"
#include "common/frontend.h"

namespace kj::ite {

inline constexpr size_t kSignalCount = 15;
inline constexpr int kMaxPin = 32;
inline constexpr int kNotConnected = 0;
inline constexpr std::string_view kNotConnectedText = "NC";
inline constexpr ValueRule kPinRule{1, kMaxPin};
inline constexpr ValueRule kConnectorRule{24, 32};

inline constexpr std::string_view kBaseFile = "MB connection IT85XX.txt";
// The motherboard chooser's entry 0, with a base and without one.
inline constexpr std::string_view kChooseBoardEntry = "Кликни для выбора готовых настроек под конкретную MB";
inline constexpr std::string_view kConnectorKey = "KB_pins=";

inline constexpr Rgb kDataColour{0, 128, 0};
inline constexpr Rgb kStrobeColour{255, 0, 0};
inline constexpr Rgb kBusyColour{0, 0, 255};
inline constexpr Rgb kSpareColour{0, 0, 0};

struct Signal {
    std::string_view label;       // the caption beside its selector
    Rgb colour;                   // of that caption
    BaseKey key;                  // the base key, and the signal's name in messages
    std::array<uint8_t, 2> code;  // the first two bytes of its routing frame
    int read;                     // its place when a base line is read, from 1
    int sent;                     // its place among the routing frames, from 1
};

// One row per pin selector, ComboBox1 to ComboBox15.
// clang-format off
inline constexpr std::array<Signal, kSignalCount> kSignals{{
    {.label = "PD0 (pin 36 KSO0)", .colour = kDataColour, .key = {"PD0=", "PD0"}, .code = {'d', '0'}, .read = 1, .sent = 8},
    {.label = "PD1 (pin 37 KSO1)", .colour = kDataColour, .key = {"PD1=", "PD1"}, .code = {'d', '1'}, .read = 2, .sent = 9},
    {.label = "PD2 (pin 38 KSO2)", .colour = kDataColour, .key = {"PD2=", "PD2"}, .code = {'d', '2'}, .read = 3, .sent = 10},
    {.label = "PD3 (pin 39 KSO3)", .colour = kDataColour, .key = {"PD3=", "PD3"}, .code = {'d', '3'}, .read = 4, .sent = 11},
    {.label = "PD4 (pin 40 KSO4)", .colour = kDataColour, .key = {"PD4=", "PD4"}, .code = {'d', '4'}, .read = 5, .sent = 12},
    {.label = "PD5 (pin 41 KSO5)", .colour = kDataColour, .key = {"PD5=", "PD5"}, .code = {'d', '5'}, .read = 6, .sent = 13},
    {.label = "PD6 (pin 42 KSO6)", .colour = kDataColour, .key = {"PD6=", "PD6"}, .code = {'d', '6'}, .read = 7, .sent = 14},
    {.label = "PD7 (pin 43 KSO7)", .colour = kDataColour, .key = {"PD7=", "PD7"}, .code = {'d', '7'}, .read = 8, .sent = 15},
    {.label = "STB# (58 KSI0) WR/RD 0/1", .colour = kStrobeColour, .key = {"STB=", "STB#"}, .code = {'W', 'R'}, .read = 10, .sent = 4},
    {.label = "AFD# (59 KSI1) DS", .colour = kStrobeColour, .key = {"AFD=", "AFD#"}, .code = {'D', 'S'}, .read = 11, .sent = 2},
    {.label = "SLIN# (61 KSI3) AS", .colour = kStrobeColour, .key = {"SLIN=", "SLIN#"}, .code = {'A', 'S'}, .read = 13, .sent = 3},
    {.label = "INIT# (60 KSI2) IN", .colour = kStrobeColour, .key = {"INIT=", "INIT#"}, .code = {'I', 'N'}, .read = 12, .sent = 1},
    {.label = "BUSY (pin 45 KSO9)", .colour = kBusyColour, .key = {"BUSY=", "BUSY"}, .code = {'B', 'L'}, .read = 9, .sent = 7},
    {.label = "KSI4 (pin 62)", .colour = kSpareColour, .key = {"KSI4=", "KSI4"}, .code = {'K', '4'}, .read = 14, .sent = 5},
    {.label = "KSI5 (pin 63)", .colour = kSpareColour, .key = {"KSI5=", "KSI5"}, .code = {'K', '5'}, .read = 15, .sent = 6},
}};
// clang-format on

// The rows ordered by one of their places.
constexpr std::array<size_t, kSignalCount> rowsBy(int Signal::*place) {
    std::array<size_t, kSignalCount> rows{};
    for (size_t row = 0; row < kSignalCount; ++row) rows[static_cast<size_t>(kSignals[row].*place - 1)] = row;
    return rows;
}
inline constexpr auto kReadOrder = rowsBy(&Signal::read);
inline constexpr auto kSendOrder = rowsBy(&Signal::sent);

// Each selector's value, by row: kNotConnected or a connector line 1 to 32.
using Routing = std::array<uint8_t, kSignalCount>;

// The chooser's entry 0 when the base `searched` could not be read: it names
// the folder searched, the root of drive C: as such.
std::string noBaseEntry(const std::filesystem::path& searched);
// How a line of the base reads: the board's name, then its keys.
std::string baseLineFormat();

// The selector's text of a value, and the value of a text typed into a
// selector ("NC" in any case, or a number 1 to 32); nothing when it is neither.
std::string pinText(int pin);
std::optional<int> pinOfText(std::string_view text);

// The selectors after a base line was applied to them: those read before a
// key that stopped the reading hold their new values, the rest their old ones.
struct AppliedLine {
    Routing pins{};
    bool complete = false;  // every key was read: the orientation box may be used
    std::string message{};  // why the reading stopped
};
AppliedLine applyBaseLine(std::string_view line, const Routing& pins);

// The selectors mirrored for a cable the other way round, by the connector
// size the line gives. Not done (and nothing changed) when the line has no
// usable size, or a selector holds a line the connector does not have.
struct Mirroring {
    Routing pins{};
    bool done = false;
    std::string message{};
};
Mirroring mirrorRouting(std::string_view line, const Routing& pins);

// "PD0=1,BUSY=NC,...": the named signals by their base keys, the others NC.
// Nothing, with `error` saying why, when the text is not such a list.
std::optional<Routing> parsePinList(std::string_view text, std::string& error);

// "PD0=1 PD1=2 ... KSI5=NC", in selector order.
std::string routingText(const Routing& pins);

// Why the routing cannot be sent: two signals on one connector line, named
// both; nothing when every line carries one signal at most (NC may repeat).
std::optional<std::string> sharedLine(const Routing& pins);

}  // namespace kj::ite
