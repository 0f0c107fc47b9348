#include "common/image_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kj {

FileDialogSpec imageSaveDialog(std::string filter) {
    return {FileDialogSpec::Kind::Save, "Укажите имя файла для сохранения.", std::move(filter), "Noname", ".bin"};
}

FileDialogSpec imageOpenDialog(std::string filter) {
    return {FileDialogSpec::Kind::Open, "Укажите файл за заливки.", std::move(filter), "", ""};
}

bool ImageFile::create(const std::string& path) {
    close();
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    return file_ ? true : fail();
}

bool ImageFile::open(const std::string& path) {
    close();
    path_ = path;
    file_ = std::fopen(path.c_str(), "rb");
    return file_ ? true : fail();
}

bool ImageFile::write(std::span<const uint8_t> bytes) {
    if (!file_) return false;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) return fail();
    if (std::fflush(file_) != 0) return fail();
    return true;
}

bool ImageFile::read(std::span<uint8_t> out, size_t& got) {
    got = 0;
    if (!file_) return false;
    errno = 0;
    got = std::fread(out.data(), 1, out.size(), file_);
    if (got < out.size() && std::ferror(file_)) return fail();
    return true;
}

bool ImageFile::close() {
    if (!file_) return true;
    errno = 0;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok ? true : fail();
}

bool ImageFile::discard() {
    close();
    std::error_code ec;
    return !path_.empty() && std::filesystem::is_regular_file(path_, ec) && std::filesystem::remove(path_, ec);
}

bool ImageFile::fail() {
    errno_ = errno ? errno : EIO;
    return false;
}

std::string ImageFile::error() const { return std::error_code(errno_, std::generic_category()).message(); }

}  // namespace kj
