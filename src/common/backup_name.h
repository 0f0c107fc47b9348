// The names of the chip backups: each says when it was taken, for which job and
// tool, before what, and whose bytes it holds, so that a folder of them can be
// read without an index, and so that pruning can tell its own files from a
// technician's.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kj {

// A job label as it may stand in a file name: ASCII letters, digits, '-', '_'
// and '.' kept, any other character one '_'; at most kMaxLabel characters;
// never "." or "..".
inline constexpr size_t kMaxLabel = 64;
std::string safeLabel(std::string_view text);

// What a backup came before.
inline constexpr std::string_view kBeforeWrite = "write";
inline constexpr std::string_view kBeforeErase = "erase";
inline constexpr std::string_view kBeforeRestore = "restore";

// <stamp>[-<job>]-<tool>-before-<write|erase|restore>-<sha8>.bin, or the
// earlier release's <stamp>-<sha8>.bin, whose `job`, `tool` and `before` are
// empty.
struct BackupName {
    std::string stamp{};  // local time, YYYYmmdd-HHMMSS
    std::string job{};    // empty: none; already safe
    std::string tool{};
    std::string before{};  // kBeforeWrite, kBeforeErase, kBeforeRestore
    std::string sha8{};    // the first 8 lower-case hex digits of the SHA-256
};

std::string formatBackupName(const BackupName& name);
// Nothing for a name that is not one of ours for `tool`, the folder's tool:
// a technician's own file, another tool's backup, a temporary. An earlier
// release's name comes back with its `tool` filled in and `before` empty.
std::optional<BackupName> parseBackupName(std::string_view fileName, std::string_view tool);

// The stamp of a local time, as a name starts with it.
std::string backupStamp(std::time_t when);
// A stamp as the history writes times, "YYYY-MM-DD HH:MM:SS".
std::string stampTime(std::string_view stamp);

}  // namespace kj
