// What a shop can ask of the past: one row per operation, and an index of the
// chip backups that says what each was taken before and how that ended. Both
// live in one SQLite database in the data folder, which the windows and the
// command line write at once; each row is a transaction of its own, so that a
// crash never leaves half of one.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/connection_base.h"
#include "common/frontend.h"

struct sqlite3;

namespace kj::history {

inline constexpr std::string_view kDatabaseName = "history.sqlite3";
inline constexpr std::string_view kBackupsFolder = "backups";
// What a listing says where the index has no answer.
inline constexpr std::string_view kUnknown = "unknown";

// The actions a row records.
inline constexpr std::string_view kRead = "read";
inline constexpr std::string_view kWrite = "write";
inline constexpr std::string_view kErase = "erase";
inline constexpr std::string_view kVerify = "verify";
inline constexpr std::string_view kRestore = "restore";
inline constexpr std::string_view kScan = "scan";
inline constexpr std::string_view kCheck = "check";

// "PASSED", "FAILED" or "WARNING", as a row keeps a verdict.
std::string_view verdictWord(Verdict::Kind kind);

// ---- results ----

struct Failure {
    std::string message{};
};
struct Done {};

// A value, or a failure that says why. Nothing here throws.
template <typename T = Done>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : error_(std::move(failure.message)) {}
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const std::string& error() const { return error_; }

private:
    std::optional<T> value_;
    std::string error_;
};

// ---- rows ----

struct OperationRow {
    std::string time{};  // local, "YYYY-MM-DD HH:MM:SS"; empty: now, when added
    std::string job{};   // the label, already safe; empty: none
    std::string tool{};
    std::string action{};  // kRead ... kCheck
    std::string chipId{};
    std::string file{};  // made absolute when added
    std::optional<uint64_t> size{};
    std::string crc32{};
    std::string sha256{};
    std::string backup{};   // the backup taken before it; made absolute when added
    std::string verdict{};  // verdictWord(), or empty for none
    std::string reason{};
};

struct Backup {
    std::string path{};  // absolute; the index's key
    std::string time{};  // local, "YYYY-MM-DD HH:MM:SS"; empty: now, when added
    std::string job{};
    std::string tool{};
    std::string before{};  // kBeforeWrite, kBeforeErase, kBeforeRestore; empty: an earlier release's backup
    std::string chipId{};
    std::optional<uint64_t> size{};
    std::string sha256{};           // empty when unknown
    std::string writtenFile{};      // what the operation after it wrote
    std::string verdict{};          // how that operation ended; empty until it is settled
    std::optional<bool> suspect{};  // the chip was taken after a failure; nothing when unknown
    bool indexed = false;           // the index holds a row for it
    int64_t order = 0;              // the index's order of entry; 0 when it has no row
};

// Empty fields match anything; `since` is a date, YYYY-MM-DD.
struct OperationFilter {
    std::string job{};
    std::string tool{};
    std::string since{};
};
struct BackupFilter {
    std::string tool{};
    std::string job{};
};

// The backup a restore takes when none is named, and a line that says why.
struct RestoreChoice {
    Backup backup{};
    std::string reason{};
};

// The local time as rows keep it.
std::string timeText(std::time_t when);
// A date given as YYYY-MM-DD, checked.
bool isDate(std::string_view text);

// ---- the store ----

// The database of a data folder, `history.sqlite3`, and the backups beside it
// in `backups/<tool>/`. Opened at its first use and kept open while the
// object lives; one object serves one thread at a time. A database another
// process holds is waited for a few seconds at most.
class Store {
public:
    explicit Store(std::filesystem::path folder = dataFolder());
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& databaseFile() const { return database_; }
    // The folder of a tool's backups; of every tool's when `tool` is empty.
    std::filesystem::path backupFolder(std::string_view tool) const;

    Result<> addOperation(OperationRow row);
    // Enters a backup just taken; the result says whether it is suspect: the
    // latest write, erase or restore of its tool and job ended FAILED.
    Result<Backup> addBackup(Backup backup);
    // The operation that followed a backup has ended.
    Result<> settleBackup(const std::string& path, const std::string& writtenFile, std::string_view verdict);

    // Newest first.
    Result<std::vector<OperationRow>> operations(const OperationFilter& filter = {});
    // The backup files present (regular files that carry a backup's name, in
    // each tool's folder, no deeper) with what the index says of each; newest first.
    Result<std::vector<Backup>> backups(const BackupFilter& filter = {});
    // For `tool`: the oldest backup of `job` when one is given, else the newest not marked suspect.
    Result<RestoreChoice> restoreChoice(std::string_view tool, std::string_view job = {});

private:
    // What `body` throws (a name that does not convert, memory) comes back as a failure too.
    template <typename Body>
    auto guarded(Body body) -> decltype(body());
    Result<sqlite3*> connection();
    Failure failure(std::string_view what) const;

    std::filesystem::path folder_;
    std::filesystem::path database_;
    sqlite3* db_ = nullptr;
};

// The choice over a listing, newest first (what restoreChoice() uses).
Result<RestoreChoice> chooseRestore(const std::vector<Backup>& newestFirst, std::string_view tool,
                                    std::string_view job);

// ---- tables ----

// The columns of a listing, as captions and as each row's texts.
std::vector<std::string> operationHeader();
std::vector<std::string> operationFields(const OperationRow& row);
std::vector<std::string> backupHeader();
std::vector<std::string> backupFields(const Backup& backup);

// RFC 4180: a header line, then the rows; fields quoted where they hold a
// comma, a quote, CR or LF, quotes doubled; CRLF line ends; UTF-8 as given.
std::string csvText(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows);
// The same as aligned columns for a terminal, control characters shown escaped.
std::string tableText(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows);

}  // namespace kj::history
