// What each platform's part of the image files gives the shared part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/image_file.h"

namespace kj::native {

// Writes all of `data` to `fd`; false with `err` set when it could not.
bool writeAll(int fd, const uint8_t* data, size_t size, int& err);
// Reads up to `size` bytes, fewer only where the file ends first; false with
// `err` set on a failure. `got` is the count read.
bool readAll(int fd, uint8_t* data, size_t size, size_t& got, int& err);
int close(int fd);

}  // namespace kj::native

namespace kj {

// The bytes of a head sized from the file's length, read by the shared code;
// closes `fd`.
std::optional<FileHead> readHead(int fd, FileHead head, std::string& error);

}  // namespace kj
