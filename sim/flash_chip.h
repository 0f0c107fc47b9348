// A chip with a flash that tests and image files reach from outside the
// firmware's thread: the flash, and the lock that guards it together with the
// rest of the chip's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>

#include "sim/programmer.h"

namespace kjsim {

class FlashChip : public ChipModel {
public:
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

protected:
    FlashChip(size_t size, uint8_t erased, Bytes image) : size_(size), erased_(erased) { setFlash(std::move(image)); }

    mutable std::mutex mutex_;
    Bytes flash_;

private:
    const size_t size_;
    const uint8_t erased_;
};

}  // namespace kjsim
