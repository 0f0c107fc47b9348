// An image file held for one operation: created (replacing) or opened, moved
// block by block, closed with every failure reported, never silently short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "common/frontend.h"

namespace kj {

// The error boxes of the image files, the same in every window.
inline constexpr std::string_view kCreateFileBox = "Ошибка создания файла.";
inline constexpr std::string_view kOpenFileBox = "Ошибка открытия файла.";
inline constexpr std::string_view kWriteFileBox = "Ошибка записи файла.";
inline constexpr std::string_view kReadFileBox = "Ошибка чтения файла.";

// The dialogs that name an image file: a save dialog for a read, an open dialog
// for a write; each window gives its own filter.
FileDialogSpec imageSaveDialog(std::string filter);
FileDialogSpec imageOpenDialog(std::string filter);

class ImageFile {
public:
    ImageFile() = default;
    ~ImageFile() { close(); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool create(const std::string& path);
    bool open(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }

    // Writes and flushes, so that a full disk shows at the block that hit it.
    bool write(std::span<const uint8_t> bytes);
    // Reads up to `out.size()` bytes; `got` is how many came. False on an I/O
    // error, true at the end of the file.
    bool read(std::span<uint8_t> out, size_t& got);
    // False when the last buffered bytes could not be stored.
    bool close();
    // Closes and removes a file that must not be taken for a whole image;
    // true when it was removed. Only a regular file is (never a device or a pipe).
    bool discard();

    // Why the last call failed, in the system's words.
    std::string error() const;

private:
    bool fail();

    std::FILE* file_ = nullptr;
    std::string path_;
    int errno_ = 0;
};

}  // namespace kj
