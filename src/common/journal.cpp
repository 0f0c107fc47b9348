#include "common/journal.h"

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "common/connection_base.h"
#include "common/private_files.h"
#include "common/text.h"

namespace kj::journal {

namespace fs = std::filesystem;

namespace {

// One day's file, open for appends only: each write lands whole at its end,
// whoever else appends meanwhile.
class DayFile {
public:
    ~DayFile() { close(); }
    bool open(const fs::path& path, std::string& error);
    bool append(const std::string& bytes, std::string& error);
    void close();

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

#ifdef _WIN32
std::string windowsError(DWORD code) { return std::system_category().message(static_cast<int>(code)); }

bool DayFile::open(const fs::path& path, std::string& error) {
    handle_ = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ != INVALID_HANDLE_VALUE) return true;
    error = windowsError(::GetLastError());
    return false;
}

bool DayFile::append(const std::string& bytes, std::string& error) {
    DWORD written = 0;
    if (::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size())
        return true;
    error = windowsError(::GetLastError());
    return false;
}

void DayFile::close() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}
#else
bool DayFile::open(const fs::path& path, std::string& error) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd_ >= 0) return true;
    error = std::strerror(errno);
    return false;
}

// A short write would let another program's line into the middle of this one;
// on a local disk a line goes out in one call.
bool DayFile::append(const std::string& bytes, std::string& error) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n == static_cast<ssize_t>(bytes.size())) return true;
    error = n < 0 ? std::strerror(errno) : "written in part";
    return false;
}

void DayFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}
#endif

std::mutex g_mutex;
fs::path g_folder;  // empty: off
DayFile g_file;
std::string g_day;  // the day g_file is open for; empty: none open
bool g_problemSaid = false;

void closeFile() {
    g_file.close();
    g_day.clear();
}

// A new day starts a new file.
bool openFor(const std::string& day, std::string& error) {
    if (!g_day.empty() && day == g_day) return true;
    closeFile();
    std::error_code ec;
    if (!makePrivateFolders(g_folder, ec)) {
        error = ec.message();
        return false;
    }
    if (!g_file.open(g_folder / (day + ".log"), error)) return false;
    g_day = day;
    return true;
}

void pruneDays() {
    std::error_code ec;
    std::vector<fs::path> days;
    for (auto it = fs::directory_iterator(g_folder, ec); !ec && it != fs::end(it); it.increment(ec)) {
        if (it->path().extension() == ".log") days.push_back(it->path());
    }
    if (days.size() <= kDaysKept) return;
    std::sort(days.begin(), days.end());  // the names sort by date
    for (size_t i = 0; i + kDaysKept < days.size(); ++i) fs::remove(days[i], ec);
}

}  // namespace

fs::path defaultFolder() { return dataFolder() / "logs"; }

void start(const fs::path& folder) {
    std::lock_guard lock(g_mutex);
    closeFile();
    g_folder = folder;
    g_problemSaid = false;
    pruneDays();
}

void stop() {
    std::lock_guard lock(g_mutex);
    closeFile();
    g_folder.clear();
}

std::optional<std::string> line(std::string_view tool, std::string_view job, std::string_view text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t when = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d ", static_cast<int>(millis));
    const std::string entry = localTimeText(when, "%Y-%m-%d %H:%M:%S") + ms + printable(tool) +
                              (job.empty() ? "" : " " + printable(job)) + " | " + printable(text) + "\n";
    std::lock_guard lock(g_mutex);
    if (g_folder.empty()) return std::nullopt;
    std::string error;
    const std::string day = localTimeText(when, "%Y-%m-%d");
    if (openFor(day, error) && g_file.append(entry, error)) return std::nullopt;
    const fs::path file = g_folder / (day + ".log");
    closeFile();
    if (std::exchange(g_problemSaid, true)) return std::nullopt;
    return "The record of operations cannot be written: " + file.string() + ": " + error;
}

}  // namespace kj::journal
