// An in-process bridge whose devices are simulated: programmers, silent devices
// and devices that cannot be opened. Each records everything the PC does to it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/bridge.h"
#include "sim/programmer.h"
#include "sim/wire.h"

namespace kjsim {

// What sits at one index of the device list, and what the PC did to it.
class SimSlot {
public:
    enum class Kind { Programmer, Silent, Unopenable };

    static std::shared_ptr<SimSlot> programmer(std::shared_ptr<Programmer> p);
    static std::shared_ptr<SimSlot> silent();
    // A device that cannot be opened; `advice` is what the bridge then says the
    // user can do about it (as for a port without permission).
    static std::shared_ptr<SimSlot> unopenable(std::string advice = {});

    Kind kind() const { return kind_; }
    std::shared_ptr<Programmer> programmerModel() const { return programmer_; }
    const std::string& openAdvice() const { return advice_; }

    // Every byte the PC wrote, across opens.
    Bytes written() const;
    // Each write call's bytes, in order.
    std::vector<Bytes> writes() const;
    // The calls made on the device: "open", "reset", "baud 921600",
    // "data 8 0 0", "latency 2", "timeouts 300 300", "write 1" (the byte count), "close".
    std::vector<std::string> calls() const;
    void clearRecord();
    // Called whenever the programmer's reply bytes reach the PC's queue, as a
    // driver signals its receive event; set while the device is closed.
    void onReceive(std::function<void()> listener) { onReceive_ = std::move(listener); }
    void received() const {
        if (onReceive_) onReceive_();
    }
    bool isOpen() const { return open_; }

    // Recording, for the device handle.
    void record(std::string call);
    void recordWrite(const uint8_t* data, uint32_t size);
    std::atomic<bool> open_{false};

private:
    explicit SimSlot(Kind kind, std::shared_ptr<Programmer> p = {});
    Kind kind_;
    std::shared_ptr<Programmer> programmer_;
    std::string advice_;
    std::function<void()> onReceive_;
    mutable std::mutex mutex_;
    Bytes written_;
    std::vector<Bytes> writes_;
    std::vector<std::string> calls_;
};

class SimBridge : public kj::Bridge {
public:
    SimBridge() = default;
    explicit SimBridge(std::vector<std::shared_ptr<SimSlot>> devices) : slots_(std::move(devices)) {}

    void add(std::shared_ptr<SimSlot> slot) { slots_.push_back(std::move(slot)); }
    const std::vector<std::shared_ptr<SimSlot>>& devices() const { return slots_; }
    // Makes the device list call fail, as with a broken driver.
    void failDeviceList(bool fail) { failList_ = fail; }

    kj::FtStatus createDeviceInfoList(uint32_t& count) override;
    kj::FtStatus open(uint32_t index, std::unique_ptr<kj::BridgeDevice>& device) override;
    std::string lastOpenAdvice() const override { return advice_; }

private:
    std::string advice_;
    std::vector<std::shared_ptr<SimSlot>> slots_;
    bool failList_ = false;
};

// A front end's bridges, each a new one to the same device: every window and
// command finds the one programmer on the bench.
kj::BridgeFactory bridgesTo(std::shared_ptr<SimSlot> slot);

// Runs a programmer's firmware against a pair of byte queues: the device side
// of the in-process bridge, and of the pseudo-terminal server.
class FirmwareRunner {
public:
    FirmwareRunner(std::shared_ptr<Programmer> programmer, ByteQueue& fromPc, ByteQueue& toPc);
    ~FirmwareRunner();
    void start();
    // At once, whatever the firmware is doing (a reset, a hang-up).
    void stop();
    // Once the firmware has taken every byte the PC sent (the port is closed).
    void finishAndStop();
    bool hungUp() const { return hungUp_; }

private:
    class QueueWire;
    std::shared_ptr<Programmer> programmer_;
    ByteQueue& fromPc_;
    ByteQueue& toPc_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> draining_{false};
    std::atomic<bool> hungUp_{false};
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    std::thread thread_;
};

// The version number the simulated driver reports.
inline constexpr uint32_t kSimDriverVersion = 0x00021224;

}  // namespace kjsim
