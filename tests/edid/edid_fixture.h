// What the EDID tests share: a bench with the simulated panel EEPROM, a
// scratch directory, image builders and the log lines every run starts with.
#pragma once

#include "support/rig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "edid/edid.h"
#include "sim/bench.h"
#include "sim/eeprom_chip.h"

namespace kjtest {

inline const Lines kLinkLines{"Number of VCOM ports found on the machine: 1",
                              "Communication with programmer installed."};

// 0, 1, 2 ... wrapping: every offset tells where it came from.
inline Bytes ramp(size_t size, uint8_t first = 0) {
    Bytes b(size);
    std::iota(b.begin(), b.end(), first);
    return b;
}

// The simulated panel's EDID with its base-block checksum broken.
inline Bytes badChecksumImage() {
    Bytes image = kjsim::builtInPanelEdid();
    image[127] ^= 0x5A;
    return image;
}

inline Bytes withStatus(Bytes bytes, const std::string& status) {
    for (char c : status) bytes.push_back(static_cast<uint8_t>(c));
    return bytes;
}

}  // namespace kjtest
