#include "common/history.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "common/backup_name.h"
#include "common/image_file.h"
#include "common/text.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kj::history {

namespace fs = std::filesystem;

namespace {

// Long enough for another process's row or two, short enough that nobody waits on a hung one.
constexpr int kBusyTimeoutMs = 5000;

// Each entry takes the schema from the version of its index to the next;
// `PRAGMA user_version` counts those applied.
constexpr std::array<std::string_view, 1> kMigrations = {
    R"(CREATE TABLE operations(
           id INTEGER PRIMARY KEY,
           time TEXT NOT NULL, job TEXT NOT NULL, tool TEXT NOT NULL, action TEXT NOT NULL,
           chip_id TEXT NOT NULL, file TEXT NOT NULL, size INTEGER, crc32 TEXT NOT NULL,
           sha256 TEXT NOT NULL, backup TEXT NOT NULL, verdict TEXT NOT NULL, reason TEXT NOT NULL);
       CREATE INDEX operations_by_time ON operations(time);
       CREATE INDEX operations_by_job ON operations(job, time);
       CREATE INDEX operations_by_tool ON operations(tool, job);
       CREATE TABLE backups(
           path TEXT PRIMARY KEY,
           time TEXT NOT NULL, job TEXT NOT NULL, tool TEXT NOT NULL, taken_before TEXT NOT NULL,
           chip_id TEXT NOT NULL, size INTEGER, sha256 TEXT NOT NULL,
           written_file TEXT NOT NULL, verdict TEXT NOT NULL, suspect INTEGER NOT NULL);
       CREATE INDEX backups_by_tool ON backups(tool, job);)",
};
constexpr int kSchemaVersion = static_cast<int>(kMigrations.size());

constexpr std::array kActions = {kRead, kWrite, kErase, kVerify, kRestore, kScan, kCheck};
constexpr std::array kBefores = {kBeforeWrite, kBeforeErase, kBeforeRestore};
constexpr std::string_view kPassed = "PASSED";
constexpr std::string_view kFailed = "FAILED";
constexpr std::string_view kWarning = "WARNING";
constexpr std::array kVerdicts = {kPassed, kFailed, kWarning};

template <size_t N>
bool oneOf(const std::array<std::string_view, N>& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}
bool isVerdict(std::string_view word) { return word.empty() || oneOf(kVerdicts, word); }

// One prepared statement; its parameters are bound in order.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql) {
        rc_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return rc_ == SQLITE_OK; }
    Statement& bind(std::string_view text) {
        // A null pointer would bind NULL, which no text column takes.
        sqlite3_bind_text(stmt_, ++bound_, text.data() ? text.data() : "", static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(std::optional<uint64_t> number) {
        if (number) {
            sqlite3_bind_int64(stmt_, ++bound_, static_cast<sqlite3_int64>(*number));
        } else {
            sqlite3_bind_null(stmt_, ++bound_);
        }
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or a failure.
    int step() { return prepared() ? sqlite3_step(stmt_) : rc_; }
    std::string text(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column)) : "";
    }
    std::optional<uint64_t> number(int column) const {
        if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
        return static_cast<uint64_t>(sqlite3_column_int64(stmt_, column));
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
    int bound_ = 0;
};

// The index's key and a row's file: absolute, and spelt one way.
std::string absoluteText(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    const fs::path absolute = fs::absolute(pathOf(path), ec);
    return ec ? path : utf8Of(absolute.lexically_normal());
}

bool isDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view beforeText(std::string_view before) {
    if (before == kBeforeWrite) return "before a write";
    if (before == kBeforeErase) return "before an erase";
    if (before == kBeforeRestore) return "before a restore";
    return "by an earlier release";
}

std::string takenText(const Backup& backup) {
    return "taken " + backup.time + " " + std::string(beforeText(backup.before)) +
           (backup.indexed ? "" : ", not in the index");
}

std::string sizeText(std::optional<uint64_t> size) { return size ? std::to_string(*size) : ""; }

// A backup's file with what its name says.
struct Found {
    fs::path path;
    BackupName name;
    uint64_t size = 0;
};

// The files of a tool's folder that carry one of our names: regular files
// only, no links, nothing deeper. A folder not there holds none.
Result<std::vector<Found>> ownFiles(const fs::path& folder, std::string_view tool) {
    std::vector<Found> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryEc;
        if (!fs::is_regular_file(it->symlink_status(entryEc)) || entryEc) continue;
        auto name = parseBackupName(utf8Of(it->path().filename()), tool);
        const uintmax_t size = it->file_size(entryEc);
        if (!name || entryEc) continue;
        found.push_back({.path = it->path(), .name = std::move(*name), .size = size});
    }
    if (ec && ec != std::errc::no_such_file_or_directory) return Failure{utf8Of(folder) + ": " + ec.message()};
    return found;
}

// The tools that have a folder of backups: real folders only.
Result<std::vector<std::string>> toolsWithBackups(const fs::path& backups) {
    std::vector<std::string> tools;
    std::error_code ec;
    for (fs::directory_iterator it(backups, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryEc;
        if (fs::is_directory(it->symlink_status(entryEc)) && !entryEc) tools.push_back(utf8Of(it->path().filename()));
    }
    if (ec && ec != std::errc::no_such_file_or_directory) return Failure{utf8Of(backups) + ": " + ec.message()};
    return tools;
}

void escapeControls(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
            continue;
        }
        out += "\\x";
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
    }
}

// Characters, not bytes: a Cyrillic path is as wide as it looks.
size_t displayWidth(std::string_view text) {
    return std::count_if(text.begin(), text.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

void appendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out.push_back('"');
    for (char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void appendCsvLine(std::string& out, const std::vector<std::string>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out.push_back(',');
        appendCsvField(out, fields[i]);
    }
    out += "\r\n";
}

}  // namespace

std::string_view verdictWord(Verdict::Kind kind) {
    switch (kind) {
        case Verdict::Kind::Passed: return kPassed;
        case Verdict::Kind::Failed: return kFailed;
        case Verdict::Kind::Warning: return kWarning;
    }
    return {};
}

std::string timeText(std::time_t when) { return localTimeText(when, "%Y-%m-%d %H:%M:%S"); }

bool isDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    const std::string_view year = text.substr(0, 4), month = text.substr(5, 2), day = text.substr(8, 2);
    if (!isDigits(year) || !isDigits(month) || !isDigits(day)) return false;
    return month >= "01" && month <= "12" && day >= "01" && day <= "31";
}

// ---- the store ----

Store::Store(fs::path folder) : folder_(std::move(folder)), database_(folder_ / kDatabaseName) {}

Store::~Store() { sqlite3_close_v2(db_); }

fs::path Store::backupFolder(std::string_view tool) const {
    const fs::path all = folder_ / kBackupsFolder;
    return tool.empty() ? all : all / pathOf(tool);
}

Failure Store::failure(std::string_view what) const {
    return {"history " + utf8Of(database_) + ": " + std::string(what)};
}

template <typename Body>
auto Store::guarded(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& e) {
        // A row half made is never kept.
        if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return failure(e.what());
    }
}

Result<sqlite3*> Store::connection() {
    if (db_) return db_;
    std::error_code ec;
    // Firmware can hold its owner's secrets: a folder made here is the user's alone.
    if (fs::create_directories(folder_, ec)) fs::permissions(folder_, fs::perms::owner_all, ec);
    if (ec) return Failure{"cannot create the data folder " + utf8Of(folder_) + ": " + ec.message()};
    if (fs::exists(database_, ec) && !fs::is_regular_file(database_, ec)) return failure("is not a regular file");
#ifndef _WIN32
    // The database keeps this mode, and its journal files take it from there.
    const int fd = ::open(database_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return failure(std::strerror(errno));
    ::close(fd);
#endif
    sqlite3* db = nullptr;
    const int opened =
        sqlite3_open_v2(utf8Of(database_).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const auto fail = [&](std::string why) {
        sqlite3_close_v2(db);
        return failure(why);
    };
    const auto sqlFailed = [&] { return fail(db ? sqlite3_errmsg(db) : sqlite3_errstr(opened)); };
    const auto exec = [&](const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); };
    const auto schemaVersion = [&] {
        Statement get(db, "PRAGMA user_version");
        return get.step() == SQLITE_ROW ? std::optional<int>(static_cast<int>(get.number(0).value_or(0)))
                                        : std::nullopt;
    };
    if (opened != SQLITE_OK) return sqlFailed();
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // WAL lets the windows read while the command line writes. Where the file
    // system cannot share memory, the database keeps its rollback journal.
    // Turning it on takes the file alone, and a second process opening a new
    // database at that moment is refused at once, past the busy handler.
    const auto walOn = [&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
        for (;;) {
            const int rc = Statement(db, "PRAGMA journal_mode=WAL").step();
            if (rc == SQLITE_ROW) return true;
            if (rc != SQLITE_BUSY || std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    if (!walOn()) return sqlFailed();
    const auto newer = [&](int version) {
        return fail("written by a newer release (schema " + std::to_string(version) + ")");
    };
    auto version = schemaVersion();
    if (!version) return sqlFailed();
    if (*version > kSchemaVersion) return newer(*version);
    if (*version < kSchemaVersion) {
        // Another process may be doing the same: look again inside the write lock.
        if (exec("BEGIN IMMEDIATE") != SQLITE_OK || !(version = schemaVersion())) return sqlFailed();
        if (*version > kSchemaVersion) return newer(*version);
        for (int step = *version; step < kSchemaVersion; ++step) {
            if (exec(std::string(kMigrations[step])) != SQLITE_OK) return sqlFailed();
        }
        if (exec("PRAGMA user_version=" + std::to_string(kSchemaVersion)) != SQLITE_OK || exec("COMMIT") != SQLITE_OK)
            return sqlFailed();
    }
    db_ = db;
    return db_;
}

Result<> Store::addOperation(OperationRow row) {
    return guarded([&]() -> Result<> {
        if (!oneOf(kActions, row.action)) return failure("no such action: " + row.action);
        if (!isVerdict(row.verdict)) return failure("no such verdict: " + row.verdict);
        auto db = connection();
        if (!db) return Failure{db.error()};
        if (row.time.empty()) row.time = timeText(std::time(nullptr));
        Statement insert(*db,
                         "INSERT INTO operations(time, job, tool, action, chip_id, file, size, crc32, sha256, backup, "
                         "verdict, reason) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        insert.bind(row.time).bind(row.job).bind(row.tool).bind(row.action).bind(row.chipId);
        insert.bind(absoluteText(row.file)).bind(row.size).bind(row.crc32).bind(row.sha256);
        insert.bind(absoluteText(row.backup)).bind(row.verdict).bind(row.reason);
        if (insert.step() != SQLITE_DONE) return failure(sqlite3_errmsg(*db));
        return Done{};
    });
}

Result<Backup> Store::addBackup(Backup backup) {
    return guarded([&]() -> Result<Backup> {
        if (!oneOf(kBefores, backup.before)) return failure("a backup is taken before a write, an erase or a restore");
        if (!isVerdict(backup.verdict)) return failure("no such verdict: " + backup.verdict);
        auto db = connection();
        if (!db) return Failure{db.error()};
        backup.path = absoluteText(backup.path);
        if (backup.time.empty()) backup.time = timeText(std::time(nullptr));
        // What is suspect is judged and written in one go, so that no row of another process comes between.
        if (sqlite3_exec(*db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return failure(sqlite3_errmsg(*db));
        const auto rollback = [&] {
            Failure f = failure(sqlite3_errmsg(*db));
            sqlite3_exec(*db, "ROLLBACK", nullptr, nullptr, nullptr);
            return f;
        };
        Statement latest(*db,
                         "SELECT verdict FROM operations WHERE tool = ? AND job = ? AND action IN (?, ?, ?) "
                         "ORDER BY id DESC LIMIT 1");
        latest.bind(backup.tool).bind(backup.job).bind(kWrite).bind(kErase).bind(kRestore);
        const int found = latest.step();
        if (found != SQLITE_ROW && found != SQLITE_DONE) return rollback();
        backup.suspect = found == SQLITE_ROW && latest.text(0) == kFailed;
        Statement insert(*db,
                         "INSERT OR REPLACE INTO backups(path, time, job, tool, taken_before, chip_id, size, sha256, "
                         "written_file, verdict, suspect) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        insert.bind(backup.path).bind(backup.time).bind(backup.job).bind(backup.tool).bind(backup.before);
        insert.bind(backup.chipId).bind(backup.size).bind(backup.sha256).bind(absoluteText(backup.writtenFile));
        insert.bind(backup.verdict).bind(uint64_t{*backup.suspect});
        if (insert.step() != SQLITE_DONE) return rollback();
        if (sqlite3_exec(*db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return rollback();
        backup.indexed = true;
        return backup;
    });
}

Result<> Store::settleBackup(const std::string& path, const std::string& writtenFile, std::string_view verdict) {
    return guarded([&]() -> Result<> {
        if (!isVerdict(verdict)) return failure("no such verdict: " + std::string(verdict));
        auto db = connection();
        if (!db) return Failure{db.error()};
        Statement update(*db, "UPDATE backups SET written_file = ?, verdict = ? WHERE path = ?");
        update.bind(absoluteText(writtenFile)).bind(verdict).bind(absoluteText(path));
        if (update.step() != SQLITE_DONE) return failure(sqlite3_errmsg(*db));
        if (sqlite3_changes(*db) == 0) return failure("no backup " + path + " in the index");
        return Done{};
    });
}

Result<std::vector<OperationRow>> Store::operations(const OperationFilter& filter) {
    return guarded([&]() -> Result<std::vector<OperationRow>> {
        if (!filter.since.empty() && !isDate(filter.since)) return failure("not a date (YYYY-MM-DD): " + filter.since);
        auto db = connection();
        if (!db) return Failure{db.error()};
        Statement select(*db,
                         "SELECT time, job, tool, action, chip_id, file, size, crc32, sha256, backup, verdict, reason "
                         "FROM operations WHERE (?1 = '' OR job = ?1) AND (?2 = '' OR tool = ?2) AND time >= ?3 "
                         "ORDER BY time DESC, id DESC");
        select.bind(safeLabel(filter.job)).bind(filter.tool).bind(filter.since);
        std::vector<OperationRow> rows;
        int rc = SQLITE_ROW;
        while ((rc = select.step()) == SQLITE_ROW) {
            rows.push_back({.time = select.text(0),
                            .job = select.text(1),
                            .tool = select.text(2),
                            .action = select.text(3),
                            .chipId = select.text(4),
                            .file = select.text(5),
                            .size = select.number(6),
                            .crc32 = select.text(7),
                            .sha256 = select.text(8),
                            .backup = select.text(9),
                            .verdict = select.text(10),
                            .reason = select.text(11)});
        }
        if (rc != SQLITE_DONE) return failure(sqlite3_errmsg(*db));
        return rows;
    });
}

Result<std::vector<Backup>> Store::backups(const BackupFilter& filter) {
    return guarded([&]() -> Result<std::vector<Backup>> {
        auto db = connection();
        if (!db) return Failure{db.error()};
        std::unordered_map<std::string, Backup> index;
        Statement select(*db,
                         "SELECT path, chip_id, size, sha256, written_file, verdict, suspect, rowid FROM backups "
                         "WHERE ?1 = '' OR tool = ?1");
        select.bind(filter.tool);
        int rc = SQLITE_ROW;
        while ((rc = select.step()) == SQLITE_ROW) {
            index[select.text(0)] = {.chipId = select.text(1),
                                     .size = select.number(2),
                                     .sha256 = select.text(3),
                                     .writtenFile = select.text(4),
                                     .verdict = select.text(5),
                                     .suspect = select.number(6).value_or(0) != 0,
                                     .indexed = true,
                                     .order = static_cast<int64_t>(select.number(7).value_or(0))};
        }
        if (rc != SQLITE_DONE) return failure(sqlite3_errmsg(*db));

        std::vector<std::string> tools{filter.tool};
        if (filter.tool.empty()) {
            auto all = toolsWithBackups(folder_ / kBackupsFolder);
            if (!all) return Failure{all.error()};
            tools = std::move(*all);
        }
        const std::string job = safeLabel(filter.job);
        std::vector<Backup> listed;
        for (const auto& tool : tools) {
            auto files = ownFiles(backupFolder(tool), tool);
            if (!files) return Failure{files.error()};
            for (auto& file : *files) {
                if (!job.empty() && file.name.job != job) continue;
                const std::string key = absoluteText(utf8Of(file.path));
                const auto row = index.find(key);
                Backup backup = row != index.end() ? row->second : Backup{};
                backup.path = key;
                backup.time = stampTime(file.name.stamp);
                backup.job = file.name.job;
                backup.tool = tool;
                backup.before = file.name.before;
                backup.size = file.size;
                listed.push_back(std::move(backup));
            }
        }
        // Backups of the same second in the order they were taken, as far as the index knows it.
        std::sort(listed.begin(), listed.end(), [](const Backup& a, const Backup& b) {
            if (a.time != b.time) return a.time > b.time;
            return a.order != b.order ? a.order > b.order : a.path > b.path;
        });
        return listed;
    });
}

Result<RestoreChoice> Store::restoreChoice(std::string_view tool, std::string_view job) {
    return guarded([&]() -> Result<RestoreChoice> {
        auto listed = backups({.tool = std::string(tool), .job = std::string(job)});
        if (!listed) return Failure{listed.error()};
        return chooseRestore(*listed, tool, job);
    });
}

Result<RestoreChoice> chooseRestore(const std::vector<Backup>& newestFirst, std::string_view tool,
                                    std::string_view job) {
    const std::string label = safeLabel(job);
    std::vector<const Backup*> own;
    for (const Backup& backup : newestFirst) {
        if (backup.tool == tool && (label.empty() || backup.job == label)) own.push_back(&backup);
    }
    const std::string of = "backup of " + std::string(tool) + (label.empty() ? "" : " for job " + label);
    if (own.empty()) return Failure{"no " + of};
    // The board came in with what the first backup of its job holds.
    if (!label.empty())
        return RestoreChoice{*own.back(), "the oldest backup of job " + label + ", " + takenText(*own.back())};
    const auto clean = std::find_if(own.begin(), own.end(), [](const Backup* b) { return b->suspect != true; });
    if (clean == own.end()) return Failure{"every " + of + " is marked suspect"};
    return RestoreChoice{**clean, "the newest backup not marked suspect, " + takenText(**clean)};
}

// ---- tables ----

std::vector<std::string> operationHeader() {
    return {"time", "job",   "tool",    "action", "chip ID", "file",
            "size", "CRC32", "SHA-256", "backup", "verdict", "reason"};
}

std::vector<std::string> operationFields(const OperationRow& row) {
    return {row.time,           row.job,   row.tool,   row.action, row.chipId,  row.file,
            sizeText(row.size), row.crc32, row.sha256, row.backup, row.verdict, row.reason};
}

std::vector<std::string> backupHeader() {
    return {"time", "job", "tool", "before", "verdict", "chip ID", "size", "SHA-256", "path"};
}

std::vector<std::string> backupFields(const Backup& backup) {
    const auto known = [&](const std::string& text) { return backup.indexed ? text : std::string(kUnknown); };
    return {backup.time,
            backup.job,
            backup.tool,
            backup.before.empty() ? std::string(kUnknown) : backup.before,
            backup.verdict.empty() ? std::string(kUnknown) : backup.verdict,
            known(backup.chipId),
            sizeText(backup.size),
            known(backup.sha256),
            backup.path};
}

std::string csvText(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
    std::string out;
    appendCsvLine(out, header);
    for (const auto& row : rows) appendCsvLine(out, row);
    return out;
}

std::string tableText(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
    constexpr size_t kGap = 2;
    std::vector<std::vector<std::string>> cells{header};
    cells.insert(cells.end(), rows.begin(), rows.end());
    std::vector<size_t> widths(header.size(), 0);
    for (auto& row : cells) {
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            std::string shown;
            escapeControls(shown, row[i]);
            row[i] = std::move(shown);
            widths[i] = std::max(widths[i], displayWidth(row[i]));
        }
    }
    std::string out;
    for (const auto& row : cells) {
        std::string line;
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - displayWidth(row[i]) + kGap, ' ');
        }
        while (line.ends_with(' ')) line.pop_back();
        out += line + "\n";
    }
    return out;
}

}  // namespace kj::history
