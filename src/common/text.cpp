#include "common/text.h"

#include <ctime>

namespace kj {

char byteToChar(uint8_t byte) {
    const bool digit = byte >= '0' && byte <= '9';
    const bool upper = byte >= 'A' && byte <= 'Z';
    const bool lower = byte >= 'a' && byte <= 'z';
    if (digit || upper || lower || byte == '.' || byte == '_') return static_cast<char>(byte);
    return ' ';
}

std::string bytesToText(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (uint8_t b : bytes) text.push_back(byteToChar(b));
    return text;
}

std::vector<std::string> hexDump(std::span<const uint8_t> block) {
    std::vector<std::string> lines{""};
    for (size_t row = 0; row < block.size(); row += kDumpRowSize) {
        const auto bytes = block.subspan(row, std::min(kDumpRowSize, block.size() - row));
        std::string line = ":";
        for (uint8_t b : bytes) line += " " + hexUpper(b, 2);
        line += ' ';
        for (uint8_t b : bytes) {
            const char c = byteToChar(b);
            line.push_back(c == ' ' ? '.' : c);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string printable(std::string_view line) {
    std::string shown;
    shown.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            shown += "\\x" + hexUpper(byte, 2);
        else
            shown += c;
    }
    return shown;
}

std::string hexUpper(uint32_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(out.size()) < digits) out.insert(out.begin(), '0');
    return out;
}

std::string localTimeText(std::time_t when, const char* format) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

std::string timeStampLine(Language language) {
    const auto prefix = language == Language::Russian ? kTimeStampRussian : kTimeStampEnglish;
    return std::string(prefix) + localTimeText(std::time(nullptr), "%H:%M:%S");
}

}  // namespace kj
