#include "common/image_file.h"
#include "common/image_file_native.h"

#ifndef _WIN32  // the Windows calls are in image_file_win.cpp
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
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

// Own temporaries are ".NAME.kj-DIGITS"; a long NAME is cut (at a character's
// start) so that the whole stays within NAME_MAX bytes.
constexpr std::string_view kTempTag = ".kj-";
constexpr size_t kTempDigits = 9;
constexpr auto kStaleAge = std::chrono::hours(24);

std::string tempNameFor(const std::string& name) {
    static thread_local std::mt19937 rng{std::random_device{}()};
    const size_t room = NAME_MAX - 1 - kTempTag.size() - kTempDigits;
    size_t keep = std::min(name.size(), room);
    while (keep > 0 && keep < name.size() && (static_cast<uint8_t>(name[keep]) & 0xC0) == 0x80) --keep;
    return "." + name.substr(0, keep) + std::string(kTempTag) + std::to_string(rng() % 1000000000);
}

bool isOwnTempName(std::string_view name) {
    const size_t tag = name.rfind(kTempTag);
    if (!name.starts_with('.') || tag == std::string_view::npos || tag + kTempTag.size() == name.size()) return false;
    const auto digits = name.substr(tag + kTempTag.size());
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What a killed run left (where the file system had no unnamed files, or in the
// instant of a replacement): our own temporaries, a day old, of this user.
void removeStaleTemporaries(int dirFd) {
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    const auto now = std::chrono::system_clock::now();
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (!isOwnTempName(entry->d_name) || ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const auto modified = std::chrono::system_clock::from_time_t(st.st_mtime);
        if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && now - modified > kStaleAge)
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// A character device the kernel files under its tty class, or one that says it
// is a terminal when opened (pseudo-terminals are not in sysfs).
bool isTerminal(const std::string& path, const struct stat& st) {
    if (!S_ISCHR(st.st_mode)) return false;
    std::error_code ec;
    const auto node = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    const fs::path device = fs::read_symlink(node, ec);
    if (!ec) return device.string().find("/tty/") != std::string::npos;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool terminal = ::isatty(fd);
    ::close(fd);
    return terminal;
}

bool sameDevice(const struct stat& st, const std::string& other) {
    struct stat port {};
    return !other.empty() && ::stat(other.c_str(), &port) == 0 && S_ISCHR(port.st_mode) && S_ISCHR(st.st_mode) &&
           port.st_rdev == st.st_rdev;
}

// The folder a descriptor stands for now, as the kernel names it.
std::string folderOf(int dirFd) {
    std::error_code ec;
    const fs::path folder = fs::read_symlink("/proc/self/fd/" + std::to_string(dirFd), ec);
    return ec ? std::string() : folder.string();
}

#endif

}  // namespace

#ifndef _WIN32
int native::close(int fd) { return ::close(fd); }

bool native::readAll(int fd, uint8_t* data, size_t size, size_t& got, int& err) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
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

std::string boxIn(std::string_view text, Language language) {
    static constexpr std::pair<std::string_view, std::string_view> kEnglish[] = {
        {kCreateFileBox, "Error creating the file."},
        {kOpenFileBox, "Error opening the file."},
        {kWriteFileBox, "Error writing the file."},
    };
    std::string shown(text);
    if (language != Language::English) return shown;
    for (const auto& [russian, english] : kEnglish) {
        if (shown.starts_with(russian)) return std::string(english) + shown.substr(russian.size());
    }
    return shown;
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

// The bytes of a head sized from the file's length; closes `fd`.
std::optional<FileHead> readHead(int fd, FileHead head, std::string& error) {
    size_t got = 0;
    int err = 0;
    const bool read = native::readAll(fd, head.bytes.data(), head.bytes.size(), got, err);
    native::close(fd);
    if (!read) {
        error = reasonOf(err);
        return std::nullopt;
    }
    head.bytes.resize(got);
    return head;
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
    return readHead(fd, std::move(head), error);
}

std::optional<OutputRefusal> outputRefusal(const std::string& path, const OutputRules& rules) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return std::nullopt;
    if (S_ISDIR(st.st_mode)) return OutputRefusal{notAnImage(st.st_mode)};
    if (S_ISBLK(st.st_mode)) return OutputRefusal{"is a block device; an image is never written to a disk"};
    if (sameDevice(st, rules.port)) return OutputRefusal{"is the programmer's port"};
    if (isTerminal(path, st)) return OutputRefusal{"is a terminal, not an image file"};
    if (rules.forced) return std::nullopt;
    return OutputRefusal{notAnImage(st.st_mode), true};
}

bool ImageOutput::create(const std::string& path) {
    discard();
    image_.clear();
    written_ = 0;
    finished_ = committed_ = false;
    error_.clear();
    target_ = placed_ = path;
    int err = 0;
    const auto resolved = resolveLinks(path, err);
    if (!resolved) return fail(err);
    if (const auto refusal = outputRefusal(*resolved, rules)) return fail(refusal->reason);
    struct stat st {};
    const bool exists = ::stat(resolved->c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // A pipe with no reader or a device that is not there fails here rather than hang.
        fd_ = ::open(resolved->c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) return fail(errno);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        return true;
    }
    // The file would be replaced by one the user could not have written.
    if (exists && ::access(resolved->c_str(), W_OK) != 0) return fail(errno);
    const fs::path target(*resolved);
    name_ = target.filename().string();
    if (name_.size() > NAME_MAX) return fail(ENAMETOOLONG);
    folder_ = target.has_parent_path() ? target.parent_path().string() : ".";
    // Everything from here on goes through the folder itself, wherever it is moved meanwhile.
    dirFd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return fail(errno);
    folder_ = folderOf(dirFd_);
    removeStaleTemporaries(dirFd_);
    if (!openTemporary(exists ? std::optional<mode_t>(st.st_mode & 07777) : std::nullopt)) {
        const int why = errno;
        closeAll();
        return fail(why);
    }
    target_ = placed_ = *resolved;
    return true;
}

// An unnamed file where the file system has them, else a named one.
bool ImageOutput::openTemporary(std::optional<mode_t> mode) {
    // Linking one in goes through /proc, as an unprivileged process must.
    if (::access("/proc/self/fd", F_OK) == 0) fd_ = ::openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    unnamed_ = fd_ >= 0;
    if (!unnamed_) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) return false;
        for (int attempt = 0; attempt < kTempAttempts && fd_ < 0; ++attempt) {
            temp_ = tempNameFor(name_);
            fd_ = ::openat(dirFd_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            temp_.clear();
            return false;
        }
    }
    if (mode || privateFile) ::fchmod(fd_, mode.value_or(0600));
    return true;
}

bool ImageOutput::finishFile() {
    if (finished_) return true;
    if (fd_ < 0) return false;
    if (!flushBuffer()) return false;
    // A regular file must be on the disk before it replaces the old one.
    if (dirFd_ >= 0 && ::fsync(fd_) != 0) return fail(errno);
    // An unnamed file lives only through its descriptor until it is linked in.
    if (!unnamed_ && ::close(std::exchange(fd_, -1)) != 0) return fail(errno);
    finished_ = true;
    return true;
}

// An unnamed file takes the target's name when that is free, else a temporary
// name that is then renamed over the target, so that the old file stays whole
// until the new one replaces it.
bool ImageOutput::linkIn() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), dirFd_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) return fail(errno);
    for (int attempt = 0; attempt < kTempAttempts && temp_.empty(); ++attempt) {
        temp_ = tempNameFor(name_);
        if (::linkat(AT_FDCWD, self.c_str(), dirFd_, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
        temp_.clear();
        if (errno != EEXIST) return fail(errno);
    }
    if (temp_.empty()) return fail(EEXIST);
    if (::renameat(dirFd_, temp_.c_str(), dirFd_, name_.c_str()) != 0) return fail(errno);
    temp_.clear();
    return true;
}

bool ImageOutput::commitFile() {
    if (!finished_ && !finish()) return false;
    if (dirFd_ >= 0) {
        const bool placed = unnamed_ ? linkIn() : ::renameat(dirFd_, temp_.c_str(), dirFd_, name_.c_str()) == 0;
        if (!placed) return error_.empty() ? fail(errno) : false;
        temp_.clear();
        // The folder may have been moved while the image was read; the file went with it.
        const std::string folder = folderOf(dirFd_);
        if (!folder.empty() && !folder_.empty() && folder != folder_) placed_ = (fs::path(folder) / name_).string();
    }
    committed_ = true;
    closeAll();
    return true;
}

bool ImageOutput::discardFile() {
    // A device or a pipe keeps what it was given; only a file of our own can go.
    const bool held = holdsData() && dirFd_ >= 0;
    if (!temp_.empty() && !committed_ && dirFd_ >= 0) ::unlinkat(dirFd_, temp_.c_str(), 0);
    closeAll();
    buffer_.clear();
    written_ = 0;
    finished_ = false;
    return held;
}
#endif

void ImageOutput::createInMemory() {
    discard();
    image_.clear();
    written_ = 0;
    finished_ = committed_ = false;
    error_.clear();
    target_ = placed_ = {};
    memory_ = true;
}

bool ImageOutput::finish() {
    if (!memory_) return finishFile();
    finished_ = true;
    return true;
}

bool ImageOutput::commit() {
    if (!memory_) return commitFile();
    finished_ = committed_ = true;
    return true;
}

// An image in memory leaves nothing behind to delete: it stays readable until the next create.
bool ImageOutput::discard() {
    if (!memory_) return discardFile();
    memory_ = false;
    written_ = 0;
    finished_ = false;
    return false;
}

bool ImageOutput::write(std::span<const uint8_t> bytes) {
    if ((fd_ < 0 && !memory_) || finished_) return error_.empty() ? fail(EBADF) : false;
    image_.insert(image_.end(), bytes.begin(), bytes.end());
    written_ += bytes.size();
    if (memory_) return true;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    return buffer_.size() < kWriteChunk || flushBuffer();
}

bool ImageOutput::flushBuffer() {
    int err = 0;
    if (!native::writeAll(fd_, buffer_.data(), buffer_.size(), err)) return fail(err);
    buffer_.clear();
    return true;
}

void ImageOutput::closeAll() {
    if (fd_ >= 0) native::close(std::exchange(fd_, -1));
    if (dirFd_ >= 0) native::close(std::exchange(dirFd_, -1));
    temp_.clear();
    unnamed_ = false;
}

bool ImageOutput::fail(int err) { return fail(reasonOf(err)); }

bool ImageOutput::fail(std::string reason) {
    error_ = std::move(reason);
    return false;
}

}  // namespace kj
