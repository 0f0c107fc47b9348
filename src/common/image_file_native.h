// What each platform's part of the image files gives the shared part.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kj::native {

// Writes all of `data` to `fd`; false with `err` set when it could not.
bool writeAll(int fd, const uint8_t* data, size_t size, int& err);
int close(int fd);

}  // namespace kj::native
