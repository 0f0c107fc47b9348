#include "common/backup_name.h"

#include <algorithm>
#include <array>

#include "common/text.h"

namespace kj {

namespace {

constexpr std::string_view kExtension = ".bin";
constexpr std::string_view kBeforeTail = "-before";
constexpr char kReplacement = '_';
constexpr size_t kStampLength = 15;  // YYYYmmdd-HHMMSS
constexpr size_t kDatePart = 8;
constexpr size_t kSha8Length = 8;
constexpr std::array kBeforeWords = {kBeforeWrite, kBeforeErase, kBeforeRestore};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool keptInLabel(char c) { return isAsciiLetter(c) || isDigit(c) || c == '-' || c == '_' || c == '.'; }
bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool isStamp(std::string_view text) {
    if (text.size() != kStampLength || text[kDatePart] != '-') return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != kDatePart && !isDigit(text[i])) return false;
    }
    return true;
}

bool isSha8(std::string_view text) {
    return text.size() == kSha8Length &&
           std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || (c >= 'a' && c <= 'f'); });
}

bool isBeforeWord(std::string_view word) {
    return std::find(kBeforeWords.begin(), kBeforeWords.end(), word) != kBeforeWords.end();
}

}  // namespace

std::string safeLabel(std::string_view text) {
    std::string label;
    bool inCharacter = false;  // within a multi-byte character already replaced
    for (char c : text) {
        if (inCharacter && isUtf8Continuation(c)) continue;
        inCharacter = static_cast<unsigned char>(c) >= 0x80;
        label.push_back(keptInLabel(c) ? c : kReplacement);
    }
    if (label.size() > kMaxLabel) label.resize(kMaxLabel);
    // "." and ".." name folders, never a file.
    if (label == "." || label == "..") label.assign(label.size(), kReplacement);
    return label;
}

std::string formatBackupName(const BackupName& name) {
    std::string text = name.stamp;
    if (!name.job.empty()) text += "-" + name.job;
    if (!name.before.empty()) text += "-" + name.tool + std::string(kBeforeTail) + "-" + name.before;
    return text + "-" + name.sha8 + std::string(kExtension);
}

std::optional<BackupName> parseBackupName(std::string_view fileName, std::string_view tool) {
    if (tool.empty() || !fileName.ends_with(kExtension)) return std::nullopt;
    std::string_view rest = fileName.substr(0, fileName.size() - kExtension.size());
    // The hash and the stamp close the name at either end.
    if (rest.size() < kStampLength + 1 + kSha8Length || rest[rest.size() - kSha8Length - 1] != '-') return std::nullopt;
    BackupName name{.stamp = std::string(rest.substr(0, kStampLength)),
                    .job = {},
                    .tool = std::string(tool),
                    .before = {},
                    .sha8 = std::string(rest.substr(rest.size() - kSha8Length))};
    if (!isStamp(name.stamp) || !isSha8(name.sha8)) return std::nullopt;
    std::string_view middle = rest.substr(kStampLength, rest.size() - kStampLength - kSha8Length - 1);
    if (middle.empty()) return name;  // an earlier release's name
    // The job may hold '-' itself: the tool and what came after close the middle.
    const size_t dash = middle.rfind('-');
    if (dash == std::string_view::npos) return std::nullopt;
    name.before = std::string(middle.substr(dash + 1));
    middle = middle.substr(0, dash);
    const std::string toolPart = "-" + std::string(tool) + std::string(kBeforeTail);
    if (!isBeforeWord(name.before) || !middle.ends_with(toolPart)) return std::nullopt;
    middle.remove_suffix(toolPart.size());
    if (middle.empty()) return name;
    if (middle.size() < 2 || middle.front() != '-') return std::nullopt;
    name.job = std::string(middle.substr(1));
    if (safeLabel(name.job) != name.job) return std::nullopt;
    return name;
}

std::string backupStamp(std::time_t when) { return localTimeText(when, "%Y%m%d-%H%M%S"); }

std::string stampTime(std::string_view stamp) {
    if (!isStamp(stamp)) return {};
    const auto part = [&](size_t at, size_t length) { return std::string(stamp.substr(at, length)); };
    return part(0, 4) + "-" + part(4, 2) + "-" + part(6, 2) + " " + part(9, 2) + ":" + part(11, 2) + ":" + part(13, 2);
}

}  // namespace kj
