#include "common/connection_base.h"

#include <algorithm>
#include <cstdlib>

#include "common/image_file.h"

#ifdef _WIN32
#include <shlobj.h>
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace kj {

namespace {

constexpr std::string_view kAppDataFolder = "korvel-jig";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';

// Windows-1251 from 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in order.
constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  //
};

char16_t cp1251ToUnicode(uint8_t byte) {
    if (byte < 0x80) return byte;
    if (byte < 0xC0) return kCp1251High[byte - 0x80];
    return static_cast<char16_t>(0x0410 + (byte - 0xC0));
}

void appendUtf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Length of the well-formed UTF-8 sequence at `at`, or 0 (overlong forms,
// surrogates and values past U+10FFFF are not well-formed).
size_t utf8SequenceLength(std::string_view s, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > s.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

bool isUtf8(std::string_view s) {
    for (size_t at = 0; at < s.size();) {
        const size_t length = utf8SequenceLength(s, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

// One character of a decoded (UTF-8) line.
size_t charLength(std::string_view s, size_t at) { return std::max<size_t>(1, utf8SequenceLength(s, at)); }

#ifndef _WIN32
std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) return user->pw_dir;
    return {};
}

std::filesystem::path userDataFolder() {
#ifdef __APPLE__
    return homeFolder() / "Library" / "Application Support";
#else
    // A relative XDG_DATA_HOME is invalid and is to be ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') return xdg;
    return homeFolder() / ".local" / "share";
#endif
}
#else
std::filesystem::path userDataFolder() {
    if (const wchar_t* appData = ::_wgetenv(L"APPDATA"); appData && *appData) return appData;
    wchar_t* known = nullptr;
    std::filesystem::path folder;
    if (::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known) == S_OK) folder = known;
    ::CoTaskMemFree(known);
    return folder;
}
#endif

}  // namespace

std::optional<int> decimalValue(std::string_view text) {
    if (text.empty()) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::filesystem::path dataFolder() { return userDataFolder() / kAppDataFolder; }

std::filesystem::path baseFilePath(std::string_view fileName) {
    const auto own = dataFolder() / fileName;
#ifdef _WIN32
    // Technicians keep their bases in the root of drive C:, where the messages point.
    std::error_code ec;
    if (!std::filesystem::exists(own, ec)) return std::filesystem::path("C:\\") / fileName;
#endif
    return own;
}

std::string baseKeysTemplate(std::span<const BaseKey> keys) {
    std::string text;
    for (const auto& key : keys) text += (text.empty() ? "" : " ") + std::string(key.key) + "nn";
    return text;
}

std::string decodeBaseText(std::string_view bytes) {
    if (isUtf8(bytes)) return std::string(bytes.starts_with(kUtf8Bom) ? bytes.substr(kUtf8Bom.size()) : bytes);
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) appendUtf8(text, cp1251ToUnicode(static_cast<uint8_t>(c)));
    return text;
}

std::vector<std::string> splitBaseLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == kCarriageReturn) continue;
        if (c == kLineFeed) {
            lines.push_back(std::move(line));
            line.clear();
            continue;
        }
        line.push_back(c);
    }
    return lines;
}

std::optional<std::vector<std::string>> loadBase(const std::filesystem::path& path, std::string& error) {
    const auto head = readFileHead(utf8Of(path), kMaxBaseSize + 1, error);
    if (!head) return std::nullopt;
    if (head->size > kMaxBaseSize) {
        error = "is larger than " + std::to_string(kMaxBaseSize / 1024) + " KiB, too large for a connection base";
        return std::nullopt;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(head->bytes.data()), head->bytes.size());
    return splitBaseLines(decodeBaseText(bytes));
}

std::optional<std::vector<std::string>> loadBase(const std::filesystem::path& path) {
    std::string error;
    return loadBase(path, error);
}

std::optional<std::string_view> baseValueText(std::string_view line, std::string_view key) {
    const size_t found = line.find(key);
    if (found == std::string_view::npos) return std::nullopt;
    const size_t start = found + key.size();
    if (start >= line.size()) return line.substr(start, 0);
    size_t end = start + charLength(line, start);
    if (end < line.size() && line[end] != ' ') end += charLength(line, end);
    return line.substr(start, std::min(end, line.size()) - start);
}

BaseLine parseBaseLine(std::string_view line, std::span<const BaseKey> keys, ValueRule rule) {
    BaseLine parsed;
    for (size_t index = 0; index < keys.size(); ++index) {
        const auto text = baseValueText(line, keys[index].key);
        const auto fail = [&](BaseLine::Status status) {
            parsed.status = status;
            parsed.failedKey = index;
            parsed.valueText = std::string(text.value_or(""));
            return parsed;
        };
        if (!text) return fail(BaseLine::Status::MissingKey);
        const auto value = decimalValue(*text);
        if (!value) return fail(BaseLine::Status::NotANumber);
        if (*value < rule.min || *value > rule.max) return fail(BaseLine::Status::OutOfRange);
        parsed.values.push_back(*value);
    }
    return parsed;
}

}  // namespace kj
