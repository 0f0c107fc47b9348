// The fingerprints an image is logged with, so that a technician can tell two
// dumps apart and match a backup to the chip it came from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kj {

// IEEE 802.3, as zip and most hex editors show it.
uint32_t crc32(std::span<const uint8_t> bytes);

class Sha256 {
public:
    Sha256();
    void add(std::span<const uint8_t> bytes);
    std::array<uint8_t, 32> digest();

private:
    void compress(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> block_{};
    size_t filled_ = 0;
    uint64_t length_ = 0;
};

// Lower-case hex.
std::string sha256Hex(std::span<const uint8_t> bytes);
std::string crc32Hex(std::span<const uint8_t> bytes);

}  // namespace kj
