#include "common/journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "common/connection_base.h"

namespace kj::journal {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
fs::path g_folder;  // empty: off
std::FILE* g_file = nullptr;
std::string g_day;

std::tm localNow(std::chrono::system_clock::time_point now) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

std::string formatted(const std::tm& time, const char* format) {
    char text[64];
    std::strftime(text, sizeof text, format, &time);
    return text;
}

void closeFile() {
    if (g_file) std::fclose(g_file);
    g_file = nullptr;
    g_day.clear();
}

// A new day starts a new file.
std::FILE* fileFor(const std::string& day) {
    if (g_file && day == g_day) return g_file;
    closeFile();
    std::error_code ec;
    fs::create_directories(g_folder, ec);
#ifdef _WIN32
    g_file = ::_wfopen((g_folder / (day + ".log")).c_str(), L"ab");
#else
    g_file = std::fopen((g_folder / (day + ".log")).c_str(), "ab");
#endif
    if (g_file) g_day = day;
    return g_file;
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
    pruneDays();
}

void stop() {
    std::lock_guard lock(g_mutex);
    closeFile();
    g_folder.clear();
}

void line(std::string_view tool, std::string_view text) {
    const auto now = std::chrono::system_clock::now();
    std::lock_guard lock(g_mutex);
    if (g_folder.empty()) return;
    const std::tm local = localNow(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::FILE* file = fileFor(formatted(local, "%Y-%m-%d"));
    if (!file) return;
    std::fprintf(file, "%s.%03d %.*s | %.*s\n", formatted(local, "%Y-%m-%d %H:%M:%S").c_str(), static_cast<int>(millis),
                 static_cast<int>(tool.size()), tool.data(), static_cast<int>(text.size()), text.data());
    // Kept whole on the disk for a program that is killed or a machine that loses power.
    std::fflush(file);
}

}  // namespace kj::journal
