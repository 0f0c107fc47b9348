// Motherboard connection bases: optional text files, one motherboard per line,
// that hold the keyboard-connector pin of each programming signal as key=value
// pairs. The reading, the value rule and the mirroring for a reversed cable
// serve every window that wires a chip through the keyboard connector; each
// brings its own table of keys.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kj {

// ---- the base file ----

// The program's per-user data folder: on Linux $XDG_DATA_HOME or ~/.local/share,
// on Windows %APPDATA%, then korvel-jig/. Bases, backups and logs live there.
std::filesystem::path dataFolder();

// Where a base of this name is looked for: the program's per-user data folder
// (on Linux $XDG_DATA_HOME or ~/.local/share, on Windows %APPDATA%, then
// korvel-jig/); on Windows the root of drive C: when the base is not there.
std::filesystem::path baseFilePath(std::string_view fileName);

// Bases are 8-bit text; one that is valid UTF-8 is taken as it is, any other
// is read as Windows-1251, the code page they were written in.
std::string decodeBaseText(std::string_view bytes);

// The entries of a motherboard chooser: one per LF, empty lines included, CR
// dropped wherever it stands; text after the last LF is not an entry.
std::vector<std::string> splitBaseLines(std::string_view text);

// A base is a text file of a few kilobytes; anything larger is not one.
inline constexpr size_t kMaxBaseSize = 1024 * 1024;

// Reads, decodes and splits a base; nothing, with `error` saying why, when the
// file cannot be read or is not a base (a directory, a device, too large).
std::optional<std::vector<std::string>> loadBase(const std::filesystem::path& path, std::string& error);
std::optional<std::vector<std::string>> loadBase(const std::filesystem::path& path);

// ---- a line of a base ----

struct BaseKey {
    std::string_view key;   // searched for, "=" included; case-sensitive, first occurrence counts
    std::string_view name;  // how results and messages name the signal
};

// How a line of a base reads, for a message about a missing base: `keys`
// each with a two-digit placeholder, "KSO3=nn KSI4=nn".
std::string baseKeysTemplate(std::span<const BaseKey> keys);

// The values a key may take.
struct ValueRule {
    int min;
    int max;
};

// The value text after `key`: the character after the "=", and the next one
// too unless it is a space or the line ends there. Nothing when the key is absent.
std::optional<std::string_view> baseValueText(std::string_view line, std::string_view key);

struct BaseLine {
    enum class Status { Ok, MissingKey, NotANumber, OutOfRange };
    Status status = Status::Ok;
    std::vector<int> values;  // one per key, in table order, up to the key that failed
    size_t failedKey = 0;     // index into the table when status is not Ok
    std::string valueText;    // the failed key's value text
};

// Reads the keys in table order and stops at the first that is absent, not a
// decimal number or outside the rule.
BaseLine parseBaseLine(std::string_view line, std::span<const BaseKey> keys, ValueRule rule);

// The contact that carries connector pin `pin` when the cable is reversed.
constexpr int mirrorPin(int pin, int width) { return width + 1 - pin; }

// A decimal number made of digits only.
std::optional<int> decimalValue(std::string_view text);

}  // namespace kj
