// Image files, kept safe: a read writes into a temporary file in its target's
// folder and puts it in place only when the image is whole, so that a failure
// never harms an earlier file and never leaves a partial image; a write loads its
// whole input before the chip is touched. Nothing here blocks on a FIFO or a device.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/frontend.h"
#include "common/text.h"

namespace kj {

using Bytes = std::vector<uint8_t>;

// The error boxes of the image files, the same in every window.
inline constexpr std::string_view kCreateFileBox = "Ошибка создания файла.";
inline constexpr std::string_view kOpenFileBox = "Ошибка открытия файла.";
inline constexpr std::string_view kWriteFileBox = "Ошибка записи файла.";
// A box's text in the language of a tool that speaks English elsewhere, for
// a front end without the windows' boxes; any other text as it is.
std::string boxIn(std::string_view text, Language language);

// The dialogs that name an image file: a save dialog for a read, an open dialog
// for a write; each window gives its own filter.
FileDialogSpec imageSaveDialog(std::string filter);
FileDialogSpec imageOpenDialog(std::string filter);

// A write's image handed out block by block from its start; a block past the
// image's end is filled up with the erased value.
class ImageBlocks {
public:
    void reset(Bytes image) {
        image_ = std::move(image);
        offset_ = 0;
    }
    // Fills `block`; returns how many of its bytes came from the image.
    size_t next(std::span<uint8_t> block, uint8_t fill);

private:
    Bytes image_;
    size_t offset_ = 0;
};

// The head of a file: at most `limit` bytes, and the file's whole size.
struct FileHead {
    Bytes bytes;
    uint64_t size = 0;
};

// Reads a regular file without blocking on it. Nothing, with `error` set to the
// reason, when it cannot be opened or read or is not a regular file (a directory,
// a FIFO, a device).
std::optional<FileHead> readFileHead(const std::string& path, size_t limit, std::string& error);

// File names are kept as UTF-8 everywhere; a path's own narrow form is the
// system code page on Windows, which a Cyrillic user folder does not survive.
inline std::filesystem::path pathOf(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// "PATH: reason", the second line of an error box and a log line's tail.
std::string fileProblem(std::string_view path, std::string_view reason);
// An error box that says which file and why on its second line.
std::string boxWithReason(std::string_view box, std::string_view path, std::string_view reason);

// Asked before writing an image whose size is not the chip's, naming both.
std::string imageSizeQuestion(Language language, std::string_view path, uint64_t fileSize, size_t chipSize);

// What may never be a read's output, whatever the user says: a block device, a
// terminal, the programmer's own port. Any other existing path that is not a
// regular file (a FIFO, /dev/null) only when the user forced it.
struct OutputRules {
    bool forced = false;
    std::string port;  // the programmer's port; empty when it has no path
};
struct OutputRefusal {
    std::string reason;
    bool forceable = false;  // the user's force would let it through
};
std::optional<OutputRefusal> outputRefusal(const std::string& path, const OutputRules& rules);

// The target of a read. A regular file (or a name not yet taken) is written as
// an unnamed file in its folder and linked in by commit(), so that a process
// killed meanwhile leaves nothing; where the file system cannot do that, as a
// named temporary beside it. Stale temporaries of earlier runs are removed on
// the next write there. A symlink is followed to its file, whose permissions the
// new file keeps. A forced FIFO or device is written directly and cannot be
// taken back.
class ImageOutput {
public:
    ImageOutput() = default;
    ~ImageOutput() { discard(); }
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;

    // A FIFO or a device chosen in a save dialog is the user's own choice (the
    // command line asks for --force before it gets here); a disk, a terminal and
    // the port never are.
    OutputRules rules{.forced = true, .port = {}};
    // A new file is the user's alone (0600): it may hold a board owner's secrets.
    bool privateFile = false;

    // False, with error() set, where the file could not be created or may not be written.
    bool create(const std::string& path);
    // An image kept in memory only, for a comparison: nothing reaches a disk.
    void createInMemory();
    bool isOpen() const { return (fd_ >= 0 || memory_) && !finished_; }
    // Created and neither committed nor discarded yet.
    bool pending() const { return fd_ >= 0 || ((memory_ || finished_) && !committed_); }
    // Buffered; a failure shows here or in finish(), before any success is claimed.
    bool write(std::span<const uint8_t> bytes);
    // Stores every byte written so far on the disk.
    bool finish();
    // Puts a finished file in place of its target.
    bool commit();
    // Drops the file; true when a file of ours that held bytes was removed.
    bool discard();
    // True when bytes were written that a discard throws away.
    bool holdsData() const { return written_ > 0 && !committed_; }

    const std::string& path() const { return target_; }
    // Where commit() put the file: path(), unless its folder was moved meanwhile.
    const std::string& placedAt() const { return placed_; }
    const std::string& error() const { return error_; }
    // Every byte written since create(): what fingerprints and comparisons read.
    const Bytes& image() const { return image_; }

private:
    bool finishFile();
    bool commitFile();
    bool discardFile();
    bool openTemporary(std::optional<mode_t> mode);
    bool linkIn();
    bool flushBuffer();
    bool fail(int err);
    bool fail(std::string reason);
    void closeAll();

    std::string target_;
    std::string placed_;
    std::string name_;      // the target's name in its folder
    std::string folder_;    // the folder as it was named at create()
    std::string temp_;      // a named temporary's name in the folder
    bool unnamed_ = false;  // an O_TMPFILE file, linked in at commit()
    int dirFd_ = -1;
    int fd_ = -1;
    Bytes buffer_;
    Bytes image_;
    uint64_t written_ = 0;
    bool finished_ = false;
    bool committed_ = false;
    bool memory_ = false;
    std::string error_;
};

}  // namespace kj
