// Image files on Windows: the same contract as on POSIX, through the CRT's
// wide-character calls so that Cyrillic names work, and MoveFileEx for the
// final replacement.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "common/image_file.h"
#include "common/image_file_native.h"
#include "common/wide.h"

namespace kj {

namespace {

namespace fs = std::filesystem;

constexpr int kTempAttempts = 32;
constexpr unsigned kIoChunk = 1u << 30;  // the CRT counts in int

std::string reasonOf(int err) { return std::strerror(err); }

std::string notAnImage(unsigned short mode) {
    if ((mode & _S_IFMT) == _S_IFDIR) return "is a directory";
    if ((mode & _S_IFMT) == _S_IFIFO) return "is a FIFO, not an image file";
    if ((mode & _S_IFMT) == _S_IFCHR) return "is a device, not an image file";
    return "is not a regular file";
}

bool isRegular(unsigned short mode) { return (mode & _S_IFMT) == _S_IFREG; }

std::wstring tempNameBeside(const std::wstring& target) {
    static thread_local std::mt19937 rng{std::random_device{}()};
    const fs::path p(target);
    const std::wstring name = L"." + p.filename().wstring() + L".kj-" + std::to_wstring(rng() % 1000000000);
    return (p.parent_path() / name).wstring();
}

int openFlags(int extra) { return extra | _O_BINARY | _O_NOINHERIT; }

}  // namespace

int native::close(int fd) { return ::_close(fd); }

bool native::readAll(int fd, uint8_t* data, size_t size, size_t& got, int& err) {
    got = 0;
    while (got < size) {
        const unsigned want = static_cast<unsigned>(std::min<size_t>(size - got, kIoChunk));
        const int n = ::_read(fd, data + got, want);
        if (n < 0) {
            err = errno;
            return false;
        }
        if (n == 0) break;  // the file shrank under us: what is there is what counts
        got += static_cast<size_t>(n);
    }
    return true;
}

bool native::writeAll(int fd, const uint8_t* data, size_t size, int& err) {
    while (size > 0) {
        const int n = ::_write(fd, data, static_cast<unsigned>(std::min<size_t>(size, kIoChunk)));
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::optional<FileHead> readFileHead(const std::string& path, size_t limit, std::string& error) {
    const std::wstring name = widen(path);
    const int fd = ::_wopen(name.c_str(), openFlags(_O_RDONLY));
    if (fd < 0) {
        // Windows refuses to open a directory at all, and says only "permission denied".
        const int err = errno;
        struct _stat64 st {};
        error = ::_wstat64(name.c_str(), &st) == 0 && !isRegular(st.st_mode) ? notAnImage(st.st_mode) : reasonOf(err);
        return std::nullopt;
    }
    struct _stat64 st {};
    const bool statted = ::_fstat64(fd, &st) == 0;
    if (!statted || !isRegular(st.st_mode)) {
        error = statted ? notAnImage(st.st_mode) : reasonOf(errno);
        ::_close(fd);
        return std::nullopt;
    }
    FileHead head;
    head.size = static_cast<uint64_t>(st.st_size);
    head.bytes.resize(std::min<uint64_t>(limit, head.size));
    return readHead(fd, std::move(head), error);
}

// Windows has no block devices or terminals as paths a dialog offers; the
// programmer's own port is matched by its name, as Windows compares names.
std::optional<OutputRefusal> outputRefusal(const std::string& path, const OutputRules& rules) {
    struct _stat64 st {};
    if (::_wstat64(widen(path).c_str(), &st) != 0 || isRegular(st.st_mode)) return std::nullopt;
    if ((st.st_mode & _S_IFMT) == _S_IFDIR) return OutputRefusal{notAnImage(st.st_mode)};
    const auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
        return text;
    };
    if (!rules.port.empty() &&
        lower(fs::path(path).filename().string()) == lower(fs::path(rules.port).filename().string()))
        return OutputRefusal{"is the programmer's port"};
    if (rules.forced) return std::nullopt;
    return OutputRefusal{notAnImage(st.st_mode), true};
}

bool ImageOutput::create(const std::string& path) {
    discard();
    image_.clear();
    written_ = 0;
    finished_ = committed_ = false;
    error_.clear();
    target_ = path;
    placed_ = path;
    if (auto refusal = outputRefusal(path, rules)) return fail(refusal->reason);
    const std::wstring target = widen(path);
    struct _stat64 st {};
    const bool exists = ::_wstat64(target.c_str(), &st) == 0;
    if (exists && !isRegular(st.st_mode)) {
        fd_ = ::_wopen(target.c_str(), openFlags(_O_WRONLY));
        return fd_ >= 0 || fail(errno);
    }
    // A read-only file would be replaced by one the user could not have written.
    if (exists && !(st.st_mode & _S_IWRITE)) return fail(EACCES);
    int err = 0;
    for (int attempt = 0; attempt < kTempAttempts && fd_ < 0; ++attempt) {
        const std::wstring temp = tempNameBeside(target);
        fd_ = ::_wopen(temp.c_str(), openFlags(_O_WRONLY | _O_CREAT | _O_EXCL), _S_IREAD | _S_IWRITE);
        err = errno;
        if (fd_ >= 0) temp_ = narrow(temp);
        if (fd_ < 0 && err != EEXIST) break;
    }
    if (fd_ < 0) return fail(err);
    return true;
}

bool ImageOutput::finishFile() {
    if (finished_) return true;
    if (fd_ < 0) return false;
    if (!flushBuffer()) return false;
    // A regular file must be on the disk before it replaces the old one.
    if (!temp_.empty() && ::_commit(fd_) != 0) return fail(errno);
    const int fd = std::exchange(fd_, -1);
    if (::_close(fd) != 0) return fail(errno);
    finished_ = true;
    return true;
}

bool ImageOutput::commitFile() {
    if (!finished_ && !finish()) return false;
    if (!temp_.empty() && !::MoveFileExW(widen(temp_).c_str(), widen(target_).c_str(),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return fail(systemErrorText(::GetLastError()));
    }
    temp_.clear();
    committed_ = true;
    return true;
}

bool ImageOutput::discardFile() {
    // A device keeps what it was given; only a file of our own can go.
    const bool held = holdsData() && !temp_.empty();
    if (fd_ >= 0) ::_close(std::exchange(fd_, -1));
    if (!temp_.empty() && !committed_) ::_wunlink(widen(temp_).c_str());
    temp_.clear();
    buffer_.clear();
    written_ = 0;
    finished_ = false;
    return held;
}

}  // namespace kj
