// A chip with a flash that tests and image files reach from outside the
// firmware's thread: the flash, and the lock that guards it together with the
// rest of the chip's state.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "sim/programmer.h"

namespace kjsim {

// Reads an image file; shorter files are padded with 0xFF, longer ones cut to
// `size`. Throws std::runtime_error when the file cannot be read.
Bytes loadImageFile(const std::string& path, size_t size);

class FlashChip : public ChipModel {
public:
    // What programming does to a cell: a flash only clears bits, an EEPROM
    // takes the byte as it comes.
    enum class Cells { ClearBits, TakeByte };

    Bytes flash() const {
        std::lock_guard lock(mutex_);
        return flash_;
    }
    // The image, cut to the flash's size or filled up with its erased value.
    void setFlash(Bytes image) {
        image.resize(size_, erased_);
        std::lock_guard lock(mutex_);
        flash_ = std::move(image);
    }
    size_t size() const { return size_; }

    // A cell that keeps what it held whenever it is programmed; an erase still
    // reaches it. Set it before the PC starts an operation.
    void setDeadCell(std::optional<size_t> offset) { deadCell_ = offset ? static_cast<long>(*offset) : -1; }

protected:
    FlashChip(size_t size, uint8_t erased, Bytes image, Cells cells = Cells::ClearBits)
        : size_(size), erased_(erased), cells_(cells) {
        setFlash(std::move(image));
    }

    // Every write of the chip goes through here, with mutex_ held.
    void program(size_t offset, std::span<const uint8_t> bytes) {
        const size_t count = std::min(bytes.size(), size_ - std::min(offset, size_));
        const long dead = deadCell_;
        for (size_t i = 0; i < count; ++i) {
            if (static_cast<long>(offset + i) == dead) continue;
            uint8_t& cell = flash_[offset + i];
            cell = cells_ == Cells::ClearBits ? static_cast<uint8_t>(cell & bytes[i]) : bytes[i];
        }
    }
    void eraseFlash() { std::fill(flash_.begin(), flash_.end(), erased_); }  // with mutex_ held

    mutable std::mutex mutex_;
    Bytes flash_;

private:
    const size_t size_;
    const uint8_t erased_;
    const Cells cells_;
    std::atomic<long> deadCell_{-1};
};

}  // namespace kjsim
