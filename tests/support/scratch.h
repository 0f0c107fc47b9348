// A private temporary folder for a test's files, removed with everything in it,
// and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace kjtest {

class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag = "kj") {
        std::string pattern = (std::filesystem::path(testing::TempDir()) / (tag + "-XXXXXX")).string();
#ifdef _WIN32
        if (::_mktemp_s(pattern.data(), pattern.size() + 1) == 0 && std::filesystem::create_directory(pattern))
            path_ = pattern;
#else
        if (::mkdtemp(pattern.data())) path_ = pattern;
#endif
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Points the per-user data folder (bases, backups, logs) at a test's folder
// while it lives, never at the user's.
class DataHome {
#ifdef _WIN32
    // Wide, so that a Cyrillic user folder reaches the program as it is.
    using Char = wchar_t;
    static constexpr const wchar_t* kVariable = L"APPDATA";
    static const wchar_t* get() { return ::_wgetenv(kVariable); }
    static void set(const wchar_t* value) { ::_wputenv_s(kVariable, value ? value : L""); }
    static std::wstring native(const std::filesystem::path& folder) { return folder.wstring(); }
#else
    using Char = char;
    static constexpr const char* kVariable = "XDG_DATA_HOME";
    static const char* get() { return std::getenv(kVariable); }
    static void set(const char* value) { value ? ::setenv(kVariable, value, 1) : ::unsetenv(kVariable); }
    static std::string native(const std::filesystem::path& folder) { return folder.native(); }
#endif

public:
    explicit DataHome(const std::filesystem::path& folder) {
        if (const Char* old = get()) saved_ = old;
        set(native(folder).c_str());
    }
    ~DataHome() { set(saved_ ? saved_->c_str() : nullptr); }
    DataHome(const DataHome&) = delete;
    DataHome& operator=(const DataHome&) = delete;

private:
    std::optional<std::basic_string<Char>> saved_;
};

inline std::vector<uint8_t> readPath(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
inline std::vector<uint8_t> readFile(const std::string& path) { return readPath(path); }

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kjtest
