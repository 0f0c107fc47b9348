// What the NPCE tests share: the lines every operation starts with, and the
// bytes a read and a write put on the wire.
#pragma once

#include <random>

#include "npce/npce.h"
#include "sim/npce_chip.h"
#include "support/rig.h"

namespace kjtest {

constexpr size_t kNpceImage = kj::npce::kImageSize;
constexpr size_t kNpceWriteBlock = kj::npce::kWriteBlockSize;
constexpr size_t kNpceReadBlock = kj::npce::kReadBlockSize;

inline const Lines kNpceStartLines{"",
                                   "Number of VCOM ports found on the machine: 1",
                                   "Version FW -> NPCE_V1.7  ",
                                   "Communication with programmer installed.",
                                   "Communication with NPCE installed.",
                                   "ID FLASH EFh 4012h "};

inline Bytes npceRandomImage(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes image(size);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    return image;
}

// The handshake, the identification and its 'I'.
inline Bytes npceOpening() { return {'B', 'Z', 'I'}; }

inline Bytes then(Bytes bytes, std::initializer_list<uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return bytes;
}

// `blocks` read requests, '-' and the end byte.
inline Bytes npceReadBack(Bytes t, int blocks, uint8_t end) {
    t.insert(t.end(), static_cast<size_t>(blocks), 'r');
    t.push_back('-');
    t.push_back(end);
    return t;
}

// Erase, blank check and `blocks` write blocks of `image` ('w' and 256 bytes each).
inline Bytes npceWriteStream(const Bytes& image, int blocks) {
    Bytes t = npceOpening();
    t.insert(t.end(), {'e', 'x'});
    for (int n = 0; n < blocks; ++n) {
        t.push_back('w');
        const auto from = image.begin() + static_cast<std::ptrdiff_t>(n * kNpceWriteBlock);
        t.insert(t.end(), from, from + static_cast<std::ptrdiff_t>(kNpceWriteBlock));
    }
    return t;
}

inline Lines npceReadLines(const std::string& path) {
    return join({kNpceStartLines, {"Save the file: ", path, "Reading ...", kStamp, "Reading complete ...", kStamp}});
}

// A write's lines up to its first block.
inline Lines npceWriteLines(const std::string& path) {
    return join({kNpceStartLines,
                 {"Write to NPCE file:", path, kStamp, "Erase ...", "Check clear data ...", "All data is clear!",
                  "Write ..."}});
}

}  // namespace kjtest
