// A bare client of the simulated bridge: bytes in, bytes out, no product code,
// so that the tests see exactly what the simulated firmware puts on the wire.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/bench.h"

namespace kjsim::test {

// Long enough to catch a hang, never needed by a correct model.
inline constexpr kj::Millis kHangBound{3000};
// How long a check that nothing came waits.
inline constexpr kj::Millis kQuietWait{60};

class RawClient {
public:
    explicit RawClient(const std::shared_ptr<SimBridge>& bridge, uint32_t index = 0) {
        uint32_t count = 0;
        EXPECT_EQ(bridge->createDeviceInfoList(count), kj::FtStatus::Ok);
        EXPECT_EQ(bridge->open(index, device_), kj::FtStatus::Ok);
        if (device_) {
            EXPECT_EQ(device_->resetDevice(), kj::FtStatus::Ok);
        }
    }

    kj::BridgeDevice& device() { return *device_; }

    kj::FtStatus send(const Bytes& bytes) {
        uint32_t written = 0;
        return device_->write(bytes.data(), static_cast<uint32_t>(bytes.size()), written);
    }
    kj::FtStatus send(const std::string& text) { return send(Bytes(text.begin(), text.end())); }
    kj::FtStatus send(uint8_t byte) { return send(Bytes{byte}); }

    // Exactly `count` bytes, or what came before the hang bound.
    Bytes receive(size_t count) {
        uint32_t queued = 0;
        device_->waitForRx(static_cast<uint32_t>(count), kHangBound, queued);
        Bytes out(std::min<size_t>(queued, count));
        uint32_t got = 0;
        status_ = device_->read(out.data(), static_cast<uint32_t>(out.size()), got);
        out.resize(got);
        return out;
    }
    std::string receiveText(size_t count) {
        const Bytes b = receive(count);
        return std::string(b.begin(), b.end());
    }
    // How many bytes are queued after a short wait for any.
    size_t queuedAfterQuietWait() {
        uint32_t queued = 0;
        device_->waitForRx(1, kQuietWait, queued);
        return queued;
    }
    kj::FtStatus lastStatus() const { return status_; }

private:
    std::unique_ptr<kj::BridgeDevice> device_;
    kj::FtStatus status_ = kj::FtStatus::Ok;
};

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace kjsim::test
