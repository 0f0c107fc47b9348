// What the KB90xx tests share: a bench with the simulated controller, a
// scratch directory, image and transcript builders, and the log lines every
// operation starts with.
#pragma once

#include "support/rig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kb90xx/kb90xx.h"
#include "sim/bench.h"

namespace kjtest {

constexpr size_t kBlock = kj::kb90xx::kBlockSize;
constexpr size_t kImage = kj::kb90xx::kImageSize;

// The controller of a default bench answers 'V' with 0x23.
inline const Lines kStartLines{"Number of VCOM ports found on the machine: 1",
                               "Communication with programmer installed.", "Communication with KB90XX installed.",
                               "Embedded Debug Version ID = 35"};
inline const Lines kNoChipLines{"Number of VCOM ports found on the machine: 1",
                                "Communication with programmer installed.", "", "No connection to the KB90XX!",
                                "Motherboard is connected / powered ?"};
inline const std::string kStars = "**********************************";

inline Bytes randomImage(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes image(size);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    return image;
}

inline std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

inline Bytes then(Bytes bytes, std::initializer_list<uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return bytes;
}

// 'B' 'V' 'R', an 'N' after every block but the last, 'X' and the end byte.
inline Bytes readTranscript() {
    Bytes t{'B', 'V', 'R'};
    t.insert(t.end(), kj::kb90xx::kBlockCount - 1, 'N');
    t.push_back('X');
    t.push_back('I');
    return t;
}

// 'B' 'V' 'W', the blocks with an 'N' between them, and 'X'.
inline Bytes writeTranscript(const std::vector<Bytes>& blocks) {
    Bytes t{'B', 'V', 'W'};
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (i) t.push_back('N');
        t.insert(t.end(), blocks[i].begin(), blocks[i].end());
    }
    t.push_back('X');
    return t;
}

// The blocks a write sends for `file`: whole blocks while the file lasts (at
// most 512), then, when it ran short, one block of its rest padded with 0xFF.
inline std::vector<Bytes> blocksSent(const Bytes& file) {
    std::vector<Bytes> blocks;
    for (size_t at = 0; at < kImage; at += kBlock) {
        Bytes block(kBlock, 0xFF);
        const size_t n = at < file.size() ? std::min(kBlock, file.size() - at) : 0;
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), n, block.begin());
        blocks.push_back(block);
        if (n < kBlock) break;
    }
    return blocks;
}

// Lines of a write up to and including its start time stamp.
inline Lines writeStartLines(const std::string& path) {
    return join({kStartLines, {"Write in KB901X file:", path, "There is a writing KB901X...", kStamp}});
}

inline Lines verifyLines(uint16_t fileSum, uint16_t fileCrc, uint16_t flashSum, uint16_t flashCrc) {
    Lines lines{"Writing is completed successfully.",
                kStars,
                "SUMM of data from a file  -> " + hex4(fileSum),
                "CRC16 of data from a file -> " + hex4(fileCrc),
                kStars,
                "SUMM FLASH KB90XX -> " + hex4(flashSum),
                "CRC16 FLASH KB90XX-> " + hex4(flashCrc)};
    if (fileSum == flashSum && fileCrc == flashCrc) {
        lines.insert(lines.end(), {kStars, "Writing and verify is OK !"});
    } else {
        lines.push_back("!!! Data is written incorrectly !!! ");
    }
    lines.push_back(kStamp);
    return lines;
}

}  // namespace kjtest
