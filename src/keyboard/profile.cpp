#include "keyboard/profile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <set>
#include <system_error>

#include "common/connection_base.h"
#include "common/image_file.h"
#include "common/private_files.h"
#include "keyboard/keyboard.h"

namespace kj {

namespace fs = std::filesystem;

namespace {
constexpr std::string_view kExtension = ".txt";
constexpr size_t kMaxKeyName = 32;
constexpr size_t kMaxFileName = 64;
// A profile holds at most one line per pair; a file far larger is not one.
constexpr uintmax_t kMaxProfileSize = 64 * 1024;

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<int> lineNumber(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "a-b" naming a cell, either way round.
std::optional<LinePair> parsePair(std::string_view text) {
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto a = lineNumber(trimmed(text.substr(0, dash)));
    const auto b = lineNumber(trimmed(text.substr(dash + 1)));
    if (!a || !b) return std::nullopt;
    const LinePair pair{std::min(*a, *b), std::max(*a, *b)};
    if (cellNumber(pair.a, pair.b) == 0) return std::nullopt;
    return pair;
}

bool validKeyName(std::string_view key) {
    return !key.empty() && key.size() <= kMaxKeyName && std::none_of(key.begin(), key.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
}
}  // namespace

std::string pairText(LinePair pair) { return std::to_string(pair.a) + "-" + std::to_string(pair.b); }

std::string KeyboardProfile::keyOf(LinePair pair) const {
    const auto it = std::find_if(keys.begin(), keys.end(), [pair](const KeyPair& k) { return k.pair == pair; });
    return it == keys.end() ? std::string() : it->key;
}

std::string pairName(LinePair pair, std::string_view key) {
    return key.empty() ? pairText(pair) : std::string(key) + " (" + pairText(pair) + ")";
}

// Named as their caps read where that is one word, by what they are where it is a sign.
const std::vector<std::string>& laptopKeys() {
    static const std::vector<std::string> keys = {
        "Esc",   "F1",       "F2",       "F3",        "F4",        "F5",     "F6",     "F7",     "F8",     "F9",
        "F10",   "F11",      "F12",      "PrtSc",     "Insert",    "Delete", "Grave",  "1",      "2",      "3",
        "4",     "5",        "6",        "7",         "8",         "9",      "0",      "Minus",  "Equal",  "Backspace",
        "Tab",   "Q",        "W",        "E",         "R",         "T",      "Y",      "U",      "I",      "O",
        "P",     "LBracket", "RBracket", "Backslash", "CapsLock",  "A",      "S",      "D",      "F",      "G",
        "H",     "J",        "K",        "L",         "Semicolon", "Quote",  "Enter",  "LShift", "Z",      "X",
        "C",     "V",        "B",        "N",         "M",         "Comma",  "Period", "Slash",  "RShift", "LCtrl",
        "Fn",    "Win",      "LAlt",     "Space",     "RAlt",      "Menu",   "RCtrl",  "Left",   "Up",     "Down",
        "Right", "Home",     "End",      "PgUp",      "PgDn",
    };
    return keys;
}

std::string profileFileName(std::string_view model) {
    std::string name;
    for (const char c : model.substr(0, kMaxFileName)) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 0x80;
        name += kept || c == '-' || c == '_' || (c == '.' && !name.empty()) ? c : '_';
    }
    return name;
}

fs::path profileFolder() { return dataFolder() / "keyboards"; }

fs::path profilePath(std::string_view model) {
    return profileFolder() / (profileFileName(model) + std::string(kExtension));
}

std::vector<std::string> savedProfiles() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(profileFolder(), ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.extension() != kExtension || !it->is_regular_file(ec)) continue;
        const std::string stem = utf8Of(path.stem());
        if (profileFileName(stem) == stem) names.push_back(stem);
    }
    std::sort(names.begin(), names.end());
    return names;
}

LoadedProfile parseProfile(std::string_view model, std::string_view text) {
    LoadedProfile loaded{.profile = {.model = std::string(model), .keys = {}}};
    std::set<std::string, std::less<>> keys;
    std::set<LinePair> pairs;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        const size_t equals = line.rfind('=');
        const std::string_view key = equals == std::string_view::npos ? line : trimmed(line.substr(0, equals));
        const auto pair = equals == std::string_view::npos ? std::nullopt : parsePair(line.substr(equals + 1));
        if (!pair || !validKeyName(key) || keys.contains(key) || pairs.contains(*pair)) {
            ++loaded.badLines;
            continue;
        }
        keys.emplace(key);
        pairs.insert(*pair);
        loaded.profile.keys.push_back({std::string(key), *pair});
    }
    return loaded;
}

std::optional<LoadedProfile> loadProfile(std::string_view model, std::string& error) {
    const fs::path path = profilePath(model);
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        error = "No keyboard profile \"" + std::string(model) + "\" in " + utf8Of(profileFolder()) + ".";
        return std::nullopt;
    }
    std::string reason;
    const auto head = readFileHead(utf8Of(path), kMaxProfileSize, reason);
    if (!head || head->size > kMaxProfileSize) {
        error = "The keyboard profile cannot be read: " + fileProblem(utf8Of(path), head ? "too large" : reason);
        return std::nullopt;
    }
    const std::string_view text(reinterpret_cast<const char*>(head->bytes.data()), head->bytes.size());
    return parseProfile(utf8Of(path.stem()), text);
}

// Put in place whole, so that a failed write leaves the old profile as it was.
bool saveProfile(const KeyboardProfile& profile, std::string& error) {
    const fs::path path = profilePath(profile.model);
    std::string text;
    for (const auto& [key, pair] : profile.keys) text += key + '=' + pairText(pair) + '\n';
    std::error_code ec;
    ImageOutput out;
    out.rules.forced = false;
    out.privateFile = true;
    if (makePrivateFolders(path.parent_path(), ec) && out.create(utf8Of(path)) &&
        out.write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())) && out.commit())
        return true;
    error = "The keyboard profile cannot be saved: " + fileProblem(utf8Of(path), ec ? ec.message() : out.error());
    return false;
}

}  // namespace kj
