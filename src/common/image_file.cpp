#include "common/image_file.h"

#ifndef _WIN32  // the Windows calls are in image_file_win.cpp
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace kj {

namespace {

namespace fs = std::filesystem;

constexpr size_t kWriteChunk = 64 * 1024;
constexpr int kMaxLinks = 40;  // as the kernel allows
constexpr int kTempAttempts = 32;

std::string reasonOf(int err) { return std::strerror(err); }

#ifndef _WIN32

std::string notAnImage(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISFIFO(mode)) return "is a FIFO, not an image file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not an image file";
    return "is not a regular file";
}

// Follows symlinks to the file they name, which need not exist yet.
std::optional<std::string> resolveLinks(std::string path, int& err) {
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return path;
            err = errno;
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return path;
        std::error_code ec;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            err = ec.value();
            return std::nullopt;
        }
        path = (target.is_absolute() ? target : fs::path(path).parent_path() / target).string();
    }
    err = ELOOP;
    return std::nullopt;
}

std::string tempNameBeside(const std::string& target) {
    static thread_local std::mt19937 rng{std::random_device{}()};
    const fs::path p(target);
    const std::string name = "." + p.filename().string() + ".kj-" + std::to_string(rng() % 1000000000);
    return (p.parent_path() / name).string();
}

bool writeAll(int fd, const uint8_t* data, size_t size, int& err) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
#endif

}  // namespace

FileDialogSpec imageSaveDialog(std::string filter) {
    return {FileDialogSpec::Kind::Save, "Укажите имя файла для сохранения.", std::move(filter), "Noname", ".bin"};
}

FileDialogSpec imageOpenDialog(std::string filter) {
    return {FileDialogSpec::Kind::Open, "Укажите файл за заливки.", std::move(filter), "", ""};
}

size_t ImageBlocks::next(std::span<uint8_t> block, uint8_t fill) {
    const size_t got = offset_ < image_.size() ? std::min(block.size(), image_.size() - offset_) : 0;
    std::copy_n(image_.begin() + static_cast<std::ptrdiff_t>(offset_), got, block.begin());
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(got), block.end(), fill);
    offset_ += got;
    return got;
}

std::string fileProblem(std::string_view path, std::string_view reason) {
    return std::string(path) + ": " + std::string(reason);
}

std::string boxWithReason(std::string_view box, std::string_view path, std::string_view reason) {
    return std::string(box) + "\n" + fileProblem(path, reason);
}

std::string imageSizeQuestion(Language language, std::string_view path, uint64_t fileSize, size_t chipSize) {
    const std::string file = std::to_string(fileSize);
    const std::string chip = std::to_string(chipSize);
    if (language == Language::Russian) {
        return std::string(path) + "\nВ файле " + file + " байт, а во флеше чипа " + chip + ". Всё равно записать?";
    }
    return std::string(path) + "\nThe file holds " + file + " bytes; the chip's flash holds " + chip +
           ". Write it anyway?";
}

#ifndef _WIN32
std::optional<FileHead> readFileHead(const std::string& path, size_t limit, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = reasonOf(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = ::fstat(fd, &st) != 0 ? reasonOf(errno) : notAnImage(st.st_mode);
        ::close(fd);
        return std::nullopt;
    }
    FileHead head;
    head.size = static_cast<uint64_t>(st.st_size);
    head.bytes.resize(std::min<uint64_t>(limit, head.size));
    size_t got = 0;
    while (got < head.bytes.size()) {
        const ssize_t n = ::read(fd, head.bytes.data() + got, head.bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = reasonOf(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;  // the file shrank under us: what is there is what counts
        got += static_cast<size_t>(n);
    }
    head.bytes.resize(got);
    ::close(fd);
    return head;
}

bool ImageOutput::create(const std::string& path) {
    discard();
    written_ = 0;
    finished_ = committed_ = false;
    error_.clear();
    target_ = path;
    int err = 0;
    const auto resolved = resolveLinks(path, err);
    if (!resolved) return fail(err);
    struct stat st {};
    const bool exists = ::stat(resolved->c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return fail(notAnImage(st.st_mode));
    if (exists && !S_ISREG(st.st_mode)) {
        // A pipe with no reader or a device that is not there fails here rather than hang.
        fd_ = ::open(resolved->c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) return fail(errno);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        return true;
    }
    // The file would be replaced by one the user could not have written.
    if (exists && ::access(resolved->c_str(), W_OK) != 0) return fail(errno);
    for (int attempt = 0; attempt < kTempAttempts && fd_ < 0; ++attempt) {
        temp_ = tempNameBeside(*resolved);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        temp_.clear();
        return fail(errno);
    }
    if (exists) ::fchmod(fd_, st.st_mode & 07777);
    target_ = *resolved;
    return true;
}

bool ImageOutput::write(std::span<const uint8_t> bytes) {
    if (fd_ < 0 || finished_) return error_.empty() ? fail(EBADF) : false;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    written_ += bytes.size();
    return buffer_.size() < kWriteChunk || flushBuffer();
}

bool ImageOutput::flushBuffer() {
    int err = 0;
    if (!writeAll(fd_, buffer_.data(), buffer_.size(), err)) return fail(err);
    buffer_.clear();
    return true;
}

bool ImageOutput::finish() {
    if (finished_) return true;
    if (fd_ < 0) return false;
    if (!flushBuffer()) return false;
    // A regular file must be on the disk before it replaces the old one.
    if (!temp_.empty() && ::fsync(fd_) != 0) return fail(errno);
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) return fail(errno);
    finished_ = true;
    return true;
}

bool ImageOutput::commit() {
    if (!finished_ && !finish()) return false;
    if (!temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0) return fail(errno);
    temp_.clear();
    committed_ = true;
    return true;
}

bool ImageOutput::discard() {
    // A device or a pipe keeps what it was given; only a file of our own can go.
    const bool held = holdsData() && !temp_.empty();
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
    temp_.clear();
    buffer_.clear();
    written_ = 0;
    finished_ = false;
    return held;
}
#endif

bool ImageOutput::fail(int err) { return fail(reasonOf(err)); }

bool ImageOutput::fail(std::string reason) {
    error_ = std::move(reason);
    return false;
}

}  // namespace kj
