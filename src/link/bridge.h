// The USB-serial bridge as the program sees it: a device list and open handles,
// shaped after the FTDI D2XX calls so that a backend over the vendor library is a
// thin adapter. Everything platform-specific lives behind these two classes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kj {

enum class FtStatus {
    Ok = 0,
    InvalidHandle,
    DeviceNotFound,
    DeviceNotOpened,
    IoError,
    InsufficientResources,
    InvalidParameter,
    DeviceLost,  // unplugged or hung up: the operation ends as a lost link
};

const char* toString(FtStatus s);

// A driver version as its maker writes it: 0x00021224 is "2.12.24", the major,
// minor and build numbers packed as 0x00MMmmbb and read in hexadecimal.
std::string driverVersionText(uint32_t version);

struct QueueStatus {
    uint32_t rx = 0;
    uint32_t tx = 0;
    uint32_t events = 0;
};

using Millis = std::chrono::milliseconds;

// One open device. Not tied to a thread: it is opened on the window thread and
// then driven by a worker, one caller at a time.
class BridgeDevice {
public:
    virtual ~BridgeDevice() = default;

    virtual FtStatus resetDevice() = 0;
    virtual FtStatus setBaudRate(uint32_t baud) = 0;
    virtual FtStatus setDataCharacteristics(uint8_t bits, uint8_t stopBits, uint8_t parity) = 0;
    virtual FtStatus setLatencyTimer(uint8_t ms) = 0;
    // Read time-out bounds read(); 0 makes read() return what is queued at once.
    virtual FtStatus setTimeouts(uint32_t readMs, uint32_t writeMs) = 0;
    virtual FtStatus write(const uint8_t* data, uint32_t size, uint32_t& written) = 0;
    // Returns when `size` bytes were read or the read time-out has passed.
    virtual FtStatus read(uint8_t* data, uint32_t size, uint32_t& got) = 0;
    virtual FtStatus getStatus(QueueStatus& status) = 0;
    virtual FtStatus getDriverVersion(uint32_t& version) = 0;
    // Blocks (never spins) until at least `count` bytes are queued or `timeout`
    // passes; `queued` is the receive-queue count at return. Ok either way:
    // the caller compares `queued` with what it needs.
    virtual FtStatus waitForRx(uint32_t count, Millis timeout, uint32_t& queued) = 0;
    virtual FtStatus close() = 0;
    // The device node it was opened by, where it has one.
    virtual std::string portPath() const { return {}; }
};

// The driver library: the device list.
class Bridge {
public:
    virtual ~Bridge() = default;
    virtual FtStatus createDeviceInfoList(uint32_t& count) = 0;
    virtual FtStatus open(uint32_t index, std::unique_ptr<BridgeDevice>& device) = 0;
    // Set by a backend when the last open failed in a way the user can fix
    // (no permission on the port), or succeeded with a setting worth changing;
    // empty otherwise. The link logs it either way.
    virtual std::string lastOpenAdvice() const { return {}; }
    // What a user calls the device at `index` of the last list, for the wire trace.
    virtual std::string portName(uint32_t index) const { return "port" + std::to_string(index); }
    // Set by the last createDeviceInfoList(): one line for each port that was
    // asked for by name but does not exist, and so was not counted.
    virtual std::vector<std::string> lastListAdvice() const { return {}; }
};

// Makes the bridge a window or command uses; `family` names the firmware it
// expects (a FirmwareId's name), which a simulated bench follows.
using BridgeFactory = std::function<std::unique_ptr<Bridge>(std::string_view family)>;

// Standard wire settings shared by every tool.
inline constexpr uint32_t kBaudRate = 921600;
inline constexpr uint8_t kDataBits8 = 8;
inline constexpr uint8_t kStopBits1 = 0;
inline constexpr uint8_t kParityNone = 0;
inline constexpr uint8_t kLatencyMs = 2;

}  // namespace kj
