// How bytes become text in the logs: the byte-to-text rule, the hex dump,
// hexadecimal numbers and the time-stamp line.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kj {

enum class Language { English, Russian };

// A text the program says in either language, as the window it belongs to speaks.
struct Text {
    std::string_view english;
    std::string_view russian;
    constexpr std::string_view in(Language language) const { return language == Language::Russian ? russian : english; }
    std::string operator()(Language language) const { return std::string(in(language)); }
};

// Digits, letters, '.' and '_' stand for themselves; every other byte is a blank.
char byteToChar(uint8_t byte);
std::string bytesToText(std::span<const uint8_t> bytes);

inline constexpr size_t kDumpBlockSize = 256;
inline constexpr size_t kDumpRowSize = 16;
// One empty line, then a line per 16 bytes: ":" + " HH" x16 + " " + text,
// with blanks of the text column shown as ".".
std::vector<std::string> hexDump(std::span<const uint8_t> block);

// A line as it may be shown and kept: control characters (a newline, a
// carriage return, a terminal's escape) written as \xNN, so that a line
// starts only where the program starts one, whatever a file's name holds.
std::string printable(std::string_view line);

// The local time of `when` as strftime's `format` writes it.
std::string localTimeText(std::time_t when, const char* format);

// Upper-case hexadecimal with at least `digits` digits.
std::string hexUpper(uint32_t value, int digits);

inline constexpr std::string_view kTimeStampEnglish = "Current time  ";
inline constexpr std::string_view kTimeStampRussian = "Текущее время  ";
// The prefix and the local time of day (HH:MM:SS).
std::string timeStampLine(Language language);

}  // namespace kj
